#include "transport/retry_after.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "transport/ascii_case.hpp"

std::optional<std::int64_t> saturated_count(std::string_view text, std::int64_t ceiling) {
    if (text.empty()) return std::nullopt;
    std::int64_t count = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        count = std::min(ceiling, count * 10 + (c - '0'));
    }
    return count;
}

std::optional<std::chrono::milliseconds> parse_retry_after(std::string_view value,
                                                           std::chrono::system_clock::time_point now) {
    const std::string_view text = trim_blanks(value);
    if (const std::optional<std::int64_t> seconds = saturated_count(text, kLongestWaitSeconds)) {
        return std::chrono::seconds{*seconds};
    }
    // An HTTP-date in any of its three forms; libcurl's parser is the one it
    // uses for cookies and If-Modified-Since.
    const std::string date(text);
    const time_t when = date.find_first_of("0123456789") == std::string::npos ? -1 : curl_getdate(date.c_str(), nullptr);
    if (when == -1) return std::nullopt;
    // Clamped in whole seconds first: a date centuries ahead, taken as the
    // clock's nanoseconds, would overflow.
    using std::chrono::seconds;
    const std::int64_t now_seconds = std::chrono::floor<seconds>(now).time_since_epoch().count();
    const std::int64_t clamped = std::clamp<std::int64_t>(when, now_seconds - 1, now_seconds + kLongestWaitSeconds);
    const auto wait = std::chrono::sys_seconds{seconds{clamped}} - now;
    if (wait <= decltype(wait)::zero()) return std::chrono::milliseconds{0};
    return std::chrono::ceil<std::chrono::milliseconds>(wait);
}
