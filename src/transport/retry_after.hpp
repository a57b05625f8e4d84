// Reading the Retry-After header of an answer (429, 503): how long the
// service asks the client to wait before it tries again.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

// The longest wait a service's header is taken to ask for: anything longer
// counts as this, so no wait overflows when it is converted.
inline constexpr std::int64_t kLongestWaitSeconds = 1'000'000'000;

// The number `text` writes in decimal digits only, `ceiling` when it is
// larger. Empty for an empty text or any other character.
std::optional<std::int64_t> saturated_count(std::string_view text, std::int64_t ceiling);

// The wait `value` asks for: delta-seconds ("120"), or an HTTP-date in any of
// its three forms ("Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94
// 08:49:37 GMT", "Sun Nov  6 08:49:37 1994") taken relative to `now`, rounded
// up to whole milliseconds, read by libcurl's date parser (which also takes
// near variants, such as "UTC" for "GMT"); a date already past asks for no
// wait. Empty for a value that is neither. Blanks around the value are
// ignored; a wait beyond kLongestWaitSeconds, in seconds or up to a date,
// counts as that.
std::optional<std::chrono::milliseconds> parse_retry_after(std::string_view value,
                                                           std::chrono::system_clock::time_point now);
