#include "transport/retry_after.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "transport/ascii_case.hpp"

namespace {

constexpr std::int64_t kLongestDeltaSeconds = 1'000'000'000;

bool all_digits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::optional<std::chrono::milliseconds> parse_retry_after(std::string_view value,
                                                           std::chrono::system_clock::time_point now) {
    const std::string_view text = trim_blanks(value);
    if (all_digits(text)) {
        std::int64_t seconds = 0;
        for (char c : text) {
            seconds = std::min(kLongestDeltaSeconds, seconds * 10 + (c - '0'));
        }
        return std::chrono::seconds{seconds};
    }
    // An HTTP-date in any of its three forms; libcurl's parser is the one it
    // uses for cookies and If-Modified-Since.
    const std::string date(text);
    const time_t when = date.find_first_of("0123456789") == std::string::npos ? -1 : curl_getdate(date.c_str(), nullptr);
    if (when == -1) return std::nullopt;
    const auto wait = std::chrono::system_clock::from_time_t(when) - now;
    if (wait <= decltype(wait)::zero()) return std::chrono::milliseconds{0};
    return std::chrono::ceil<std::chrono::milliseconds>(wait);
}
