#include "cloudflare/mx_content.hpp"

#include <cstdlib>
#include <vector>

MxContent split_mx_content(std::string_view content) {
    std::vector<std::string_view> pieces;
    size_t start = 0;
    while (start <= content.size() && pieces.size() < 2) {
        size_t bar = content.find('|', start);
        if (bar == std::string_view::npos) bar = content.size();
        if (bar > start) pieces.push_back(content.substr(start, bar - start));
        start = bar + 1;
    }
    MxContent mx;
    mx.host = pieces.empty() ? std::string(content) : std::string(pieces[0]);
    if (pieces.size() > 1) {
        const std::string priority(pieces[1]);
        // Like strtol, then kept to its low 32 bits.
        mx.priority = static_cast<std::int32_t>(std::strtol(priority.c_str(), nullptr, 10));
    }
    return mx;
}
