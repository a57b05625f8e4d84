#include "cloudflare/zone_path.hpp"

#include "transport/percent_encode.hpp"

namespace {

bool breaks_segment(unsigned char c) {
    return c == '/' || c == '?' || c == '#' || c == '%' || c == '\\' || c == ' ' || c < 0x20 || c == 0x7f;
}

}  // namespace

bool is_single_path_segment(std::string_view segment) {
    if (segment == "." || segment == "..") return false;
    for (unsigned char c : segment) {
        if (breaks_segment(c)) return false;
    }
    return true;
}

bool check_path_segment(std::string_view segment, const char* what) {
    const bool safe = is_single_path_segment(segment);
    if (!safe) {
        PyErr_Format(PyExc_ValueError,
                     "%s must be a single path segment: no '/', '?', '#', '%%', backslash, whitespace or control "
                     "characters, and not '.' or '..'",
                     what);
    }
    return safe;
}

std::optional<std::string> zone_scoped_path(CloudflareObject* self, std::string_view suffix) {
    if (self->zone_id == nullptr) {
        qov::raise(PyExc_TypeError, "Zone id is null, please query domain first.");
        return std::nullopt;
    }
    std::optional<std::string> zone_id = qov::utf8_of_str(self->zone_id, "zone_id");
    if (!zone_id || !check_path_segment(*zone_id, "zone_id")) return std::nullopt;
    std::string path = "/zones/";
    path += *zone_id;
    path += suffix;
    return path;
}

std::optional<std::string> escaped_query_value(std::string_view value) {
    std::optional<std::string> escaped = percent_encoded(value);
    if (!escaped) PyErr_NoMemory();
    return escaped;
}
