#include "cloudflare/txt_content.hpp"

#include <optional>

namespace {

// The strings joined, or nothing when `content` is not in that form.
std::optional<std::string> joined_strings(std::string_view content) {
    std::string joined;
    std::size_t at = 0;
    while (true) {
        if (at == content.size() || content[at] != '"') return std::nullopt;
        ++at;
        const std::size_t start = at;
        while (at < content.size() && content[at] != '"') at += content[at] == '\\' ? 2 : 1;
        if (at >= content.size()) return std::nullopt;  // no closing quote
        joined.append(content, start, at - start);
        ++at;
        if (at == content.size()) return joined;
        if (content[at] != ' ') return std::nullopt;
        while (at < content.size() && content[at] == ' ') ++at;
    }
}

}  // namespace

std::string txt_value(std::string_view content) {
    std::optional<std::string> joined = joined_strings(content);
    return joined ? std::move(*joined) : std::string(content);
}
