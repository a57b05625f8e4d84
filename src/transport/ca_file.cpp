#include "transport/ca_file.hpp"

#include <cstdlib>

#include "transport/curl_owners.hpp"

namespace {

bool same_time(const timespec& a, const timespec& b) noexcept {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// libcurl's compiled-in CA file, which applies when CURL_CA_BUNDLE does not.
const std::string& built_in_ca_file() {
    static const std::string path = [] {
        std::string found;
#if LIBCURL_VERSION_NUM >= 0x075400  // CURLINFO_CAINFO came with 7.84.0
        const EasyHandle probe(curl_easy_init());
        char* text = nullptr;
        if (probe && curl_easy_getinfo(probe.get(), CURLINFO_CAINFO, &text) == CURLE_OK && text != nullptr) {
            found = text;
        }
#endif
        return found;
    }();
    return path;
}

}  // namespace

bool operator==(const CaFileVersion& a, const CaFileVersion& b) noexcept {
    return a.path == b.path && a.found == b.found && a.device == b.device && a.inode == b.inode &&
           a.size == b.size && same_time(a.modified, b.modified) && same_time(a.changed, b.changed);
}

std::optional<std::string> configured_ca_file() {
    const char* value = std::getenv("CURL_CA_BUNDLE");
    if (value == nullptr || *value == '\0') return std::nullopt;
    return std::string(value);
}

CaFileVersion ca_file_version(const std::optional<std::string>& configured) {
    CaFileVersion version;
    version.path = configured ? *configured : built_in_ca_file();
    struct stat seen {};
    // A file rewritten in place keeps its name: its size and times tell the versions apart.
    if (!version.path.empty() && stat(version.path.c_str(), &seen) == 0) {
        version.found = true;
        version.device = seen.st_dev;
        version.inode = seen.st_ino;
        version.size = seen.st_size;
        version.modified = seen.st_mtim;
        version.changed = seen.st_ctim;
    }
    return version;
}
