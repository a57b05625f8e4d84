// The CA file that verifies a request, and which version of it is on disk: a
// handle keeps connections verified against, and a trust store loaded from, the
// file as it was, so it must not serve a request that should trust another one.
#pragma once

#include <sys/stat.h>

#include <ctime>
#include <optional>
#include <string>

struct CaFileVersion {
    std::string path;  // empty when libcurl has no built-in CA file
    bool found = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    friend bool operator==(const CaFileVersion& a, const CaFileVersion& b) noexcept;
};

// CURL_CA_BUNDLE when it is set and not empty; nullopt leaves libcurl's built-in CA file.
std::optional<std::string> configured_ca_file();

// The file `configured` names, or libcurl's built-in one, as it is on disk now.
CaFileVersion ca_file_version(const std::optional<std::string>& configured);
