#include "transport/trace.hpp"

#include <algorithm>

#include "transport/ascii_case.hpp"

namespace {

// RFC 3986: a letter, then letters, digits, '+', '-' or '.'.
bool is_scheme(std::string_view text) {
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (text.empty() || !letter(text[0])) return false;
    return std::all_of(text.begin(), text.end(), [&](char c) {
        return letter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    });
}

}  // namespace

std::string traceable_header_line(std::string_view line) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || !ascii_iequals(line.substr(0, colon), "Authorization")) {
        return std::string(line);
    }
    std::string_view value = line.substr(colon + 1);
    value.remove_prefix(std::min(value.find_first_not_of(' '), value.size()));
    const size_t blank = value.find(' ');
    std::string shown(line.substr(0, colon));
    shown += ": ";
    if (blank != std::string_view::npos) {
        shown += value.substr(0, blank);  // the scheme, such as Bearer
        shown += ' ';
    }
    shown += "****";
    return shown;
}

std::string without_credentials(std::string_view url) {
    // The user information follows "scheme://" (a proxy may come without one)
    // and ends at the last '@'. A password may hold an unencoded '/', '?', '#'
    // or '@', and such a character cannot be told from one in a path after the
    // host: the authority is not taken to end at the first of them, so no part
    // of a password stays in view, and a URL with an '@' after its host shows
    // "****" up to that '@' instead. The module's own paths and queries are
    // percent-encoded and hold no '@'.
    const size_t scheme_end = url.find("://");
    const size_t start = scheme_end != std::string_view::npos && is_scheme(url.substr(0, scheme_end)) ? scheme_end + 3 : 0;
    const size_t at = url.rfind('@');
    if (at == std::string_view::npos) return std::string(url);
    const std::string_view user_information = url.substr(start, at - start);
    const size_t colon = user_information.find(':');
    std::string shown(url.substr(0, start));
    if (colon != std::string_view::npos) shown += user_information.substr(0, colon + 1);
    shown += "****";
    shown += url.substr(at);
    return shown;
}

std::string traceable_proxy(std::string_view proxy) { return without_credentials(proxy); }

std::string traceable_url(std::string_view given) {
    const std::string masked = without_credentials(given);
    const std::string_view url = masked;
    const size_t query = url.find('?');
    if (query == std::string_view::npos) return masked;
    const size_t end = std::min(url.find('#', query), url.size());
    std::string shown(url.substr(0, query + 1));
    size_t start = query + 1;
    while (start <= end) {
        size_t stop = url.find('&', start);
        if (stop == std::string_view::npos || stop > end) stop = end;
        const std::string_view pair = url.substr(start, stop - start);
        const size_t equals = pair.find('=');
        if (equals != std::string_view::npos && pair.substr(0, equals) == "access_token") {
            shown += pair.substr(0, equals + 1);
            shown += "****";
        } else {
            shown += pair;
        }
        if (stop == end) break;
        shown += '&';
        start = stop + 1;
    }
    shown += url.substr(end);
    return shown;
}
