#include "cloudflare/zone_path.hpp"

#include "transport/percent_encode.hpp"

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

std::string zone_scoped_path(std::string_view zone_id, std::string_view suffix) {
    std::string path = "/zones/";
    path += zone_id;
    path += suffix;
    return path;
}

std::string record_path(std::string_view zone_id, std::string_view record_id) {
    std::string path = zone_scoped_path(zone_id, "/dns_records/");
    path += record_id;
    return path;
}

std::optional<std::string> escaped_query_value(std::string_view value) {
    std::optional<std::string> escaped = percent_encoded(value);
    if (!escaped) PyErr_NoMemory();
    return escaped;
}
