// Reading a header of the answer from the lines libcurl hands its header
// function (CURLOPT_HEADERFUNCTION), one call per line, line ends included.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The value of the first `name` header (any letter case) of the last answer
// among `header_lines`: each status line ("HTTP/...") starts an answer afresh,
// so the headers of a redirect or of "100 Continue" do not count. Blanks
// around the value and the line end are left out; folded continuation lines
// are joined with one blank. Empty when the last answer has no such header.
std::optional<std::string> response_header(const std::vector<std::string>& header_lines, std::string_view name);
