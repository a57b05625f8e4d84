#include "cloudflare/record_name.hpp"

#include <algorithm>

#include "transport/strlwr.hpp"

namespace {

bool is_ascii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

std::string canonical_zone_name(std::string_view domain) {
    std::string name(domain);
    if (!is_ascii(name)) return name;
    strlwr(name);
    if (name.ends_with('.')) name.pop_back();
    return name;
}

std::string canonical_record_name(std::string_view name, std::string_view canonical_zone) {
    std::string canonical = canonical_zone_name(name);
    if (!is_ascii(canonical)) return canonical;
    if (canonical == "@") return std::string(canonical_zone);
    if (canonical == canonical_zone) return canonical;
    const std::size_t suffix = canonical_zone.size() + 1;
    if (canonical.size() >= suffix && canonical.ends_with(canonical_zone) &&
        canonical[canonical.size() - suffix] == '.') {
        return canonical;
    }
    canonical += '.';
    canonical += canonical_zone;
    return canonical;
}
