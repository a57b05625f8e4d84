#include "transport/percent_encode.hpp"

#include <climits>

#include "transport/curl_owners.hpp"

std::optional<std::string> percent_encoded(std::string_view text) {
    // libcurl reads a length of 0 as "use strlen", which a view need not allow,
    // and takes the length as an int.
    if (text.empty()) return std::string();
    if (text.size() > INT_MAX) return std::nullopt;
    // libcurl ignores the handle argument of curl_easy_escape.
    const CurlText escaped(curl_easy_escape(nullptr, text.data(), static_cast<int>(text.size())));
    if (!escaped) return std::nullopt;
    return std::string(escaped.get());
}
