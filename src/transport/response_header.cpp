#include "transport/response_header.hpp"

#include "transport/ascii_case.hpp"

namespace {

std::string_view without_line_end(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    return line;
}

}  // namespace

std::optional<std::string> response_header(const std::vector<std::string>& header_lines, std::string_view name) {
    std::optional<std::string> found;
    bool in_found = false;  // the previous line was the found header, which a folded line continues
    for (const std::string& raw : header_lines) {
        const std::string_view line = without_line_end(raw);
        if (line.starts_with("HTTP/")) {
            found.reset();
            in_found = false;
        } else if (!line.empty() && is_blank(line.front())) {
            if (in_found) {
                const std::string joined = *found + ' ' + std::string(trim_blanks(line));
                *found = std::string(trim_blanks(joined));
            }
        } else {
            in_found = false;
            const std::size_t colon = line.find(':');
            if (!found && colon != std::string_view::npos && ascii_iequals(line.substr(0, colon), name)) {
                found = std::string(trim_blanks(line.substr(colon + 1)));
                in_found = true;
            }
        }
    }
    return found;
}
