// Reading the Retry-After header of an answer (429, 503): how long the
// service asks the client to wait before it tries again.
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

// The wait `value` asks for: delta-seconds ("120"), or an HTTP-date in any of
// its three forms ("Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94
// 08:49:37 GMT", "Sun Nov  6 08:49:37 1994") taken relative to `now`, rounded
// up to whole milliseconds, read by libcurl's date parser (which also takes
// near variants, such as "UTC" for "GMT"); a date already past asks for no
// wait. Empty for a value that is neither. Blanks around the value are ignored; delta-seconds
// beyond a billion count as a billion.
std::optional<std::chrono::milliseconds> parse_retry_after(std::string_view value,
                                                           std::chrono::system_clock::time_point now);
