#include "transport/trust_on_disk.hpp"

#include <dirent.h>

#include <memory>

namespace {

struct DirClose {
    void operator()(DIR* directory) const noexcept { closedir(directory); }
};
using Directory = std::unique_ptr<DIR, DirClose>;

bool same_time(const timespec& a, const timespec& b) noexcept {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// A directory OpenSSL can look issuers up in: it holds at least one hashed name.
bool is_hashed_directory(const std::string& path) {
    const Directory directory(opendir(path.c_str()));
    if (!directory) return false;
    while (const dirent* entry = readdir(directory.get())) {
        if (is_hashed_certificate_name(entry->d_name)) return true;
    }
    return false;
}

bool is_file(const std::string& path) {
    struct stat seen {};
    return stat(path.c_str(), &seen) == 0 && S_ISREG(seen.st_mode);
}

DiskVersion disk_version(const std::string& path) {
    DiskVersion version;
    struct stat seen {};
    if (!path.empty() && stat(path.c_str(), &seen) == 0) {
        version.found = true;
        version.device = seen.st_dev;
        version.inode = seen.st_ino;
        version.size = seen.st_size;
        version.modified = seen.st_mtim;
        version.changed = seen.st_ctim;
    }
    return version;
}

}  // namespace

bool operator==(const DiskVersion& a, const DiskVersion& b) noexcept {
    return a.found == b.found && a.device == b.device && a.inode == b.inode && a.size == b.size &&
           same_time(a.modified, b.modified) && same_time(a.changed, b.changed);
}

const SystemTrust& system_trust() {
    static const SystemTrust found = find_system_trust(is_hashed_directory, is_file);
    return found;
}

TrustVersion trust_version(const Trust& trust) {
    return {trust, disk_version(trust.ca_file), disk_version(trust.ca_directory)};
}
