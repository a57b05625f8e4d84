#include "transport/trace.hpp"

#include <algorithm>

#include "transport/ascii_case.hpp"

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

std::string traceable_url(std::string_view url) {
    const size_t query = url.find('?');
    if (query == std::string_view::npos) return std::string(url);
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

std::string traceable_proxy(std::string_view proxy) {
    const size_t scheme = proxy.find("://");
    const size_t start = scheme == std::string_view::npos ? 0 : scheme + 3;
    const size_t end = std::min(proxy.find('/', start), proxy.size());
    const size_t at = proxy.rfind('@', end == proxy.size() ? std::string_view::npos : end);
    if (at == std::string_view::npos || at < start) return std::string(proxy);
    const size_t colon = proxy.find(':', start);
    if (colon == std::string_view::npos || colon > at) return std::string(proxy);
    std::string shown(proxy.substr(0, colon + 1));
    shown += "****";
    shown += proxy.substr(at);
    return shown;
}
