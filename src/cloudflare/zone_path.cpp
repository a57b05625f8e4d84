#include "cloudflare/zone_path.hpp"

#include <curl/curl.h>

#include <climits>
#include <memory>

namespace {

struct CurlFree {
    void operator()(char* text) const noexcept { curl_free(text); }
};

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
    // libcurl reads a length of 0 as "use strlen", which a view need not allow,
    // and takes the length as an int.
    if (value.empty()) return std::string();
    if (value.size() > INT_MAX) {
        PyErr_NoMemory();
        return std::nullopt;
    }
    // libcurl ignores the handle argument of curl_easy_escape.
    std::unique_ptr<char, CurlFree> escaped(curl_easy_escape(nullptr, value.data(), static_cast<int>(value.size())));
    if (!escaped) {
        PyErr_NoMemory();
        return std::nullopt;
    }
    return std::string(escaped.get());
}
