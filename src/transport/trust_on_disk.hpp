// The trust sources as they are on disk: what the system offers, and which
// version of a chosen file and directory a connection was verified with.
#pragma once

#include <sys/stat.h>

#include <ctime>

#include "transport/trust_sources.hpp"

// This system's hashed CA directory and CA bundle, looked for once per process.
const SystemTrust& system_trust();

// One file or directory as it is on disk now. A file rewritten in place keeps
// its name: its size and times tell the versions apart. A directory's times
// change when a certificate is added, removed or renamed, not when one of its
// files is rewritten in place.
struct DiskVersion {
    bool found = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};
    friend bool operator==(const DiskVersion& a, const DiskVersion& b) noexcept;
};

// The trust a request uses and the versions of what it names. Connections, TLS
// sessions and loaded CA stores belong to one version: libcurl tells CA
// sources apart by name only, so a source rewritten in place would otherwise
// keep trusting what it trusted before.
struct TrustVersion {
    Trust trust;
    DiskVersion file;
    DiskVersion directory;
    friend bool operator==(const TrustVersion&, const TrustVersion&) = default;
};

TrustVersion trust_version(const Trust& trust);
