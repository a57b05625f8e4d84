// Reading a service's quota headers, Ratelimit ("default";r=<remaining>;
// t=<seconds to reset>) and Ratelimit-Policy ("default";q=<quota>;w=<window
// seconds>), each a list of named items, and deciding from them whether the
// next request of the same credentials should wait for the quota to reset, so
// a client slows down before the service refuses (and blocks) it.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One item of either header: its name and the integer parameters it carries.
struct QuotaItem {
    std::string name;
    std::optional<std::int64_t> remaining;  // r
    std::optional<std::int64_t> reset;      // t, seconds
    std::optional<std::int64_t> quota;      // q
};

// The items of a header value: comma-separated, each a quoted string or a
// token followed by ";key=value" parameters. Parameters other than r, t and q,
// and values that are not plain non-negative integers, are left out; numbers
// past kLongestWaitSeconds count as that. Quoted strings may hold commas and
// semicolons.
std::vector<QuotaItem> parse_quota_items(std::string_view value);

struct QuotaHold {
    std::chrono::milliseconds wait{0};
    std::int64_t remaining = 0;
};

// Whether an answer's headers say that its quota is at or near zero: an item
// of Ratelimit with r at most max(1, q / 100), q taken from the
// Ratelimit-Policy item of the same name (1 without one). The wait is the
// longest reset t among such items, at most `longest_wait`; with the item's
// remaining count, for the trace. Empty when no item is near zero or its
// reset is 0.
std::optional<QuotaHold> quota_backoff(const std::optional<std::string>& ratelimit,
                                       const std::optional<std::string>& policy, std::chrono::milliseconds longest_wait);

// The trace line written before a request waits for its quota, line feed
// included: "ratelimit: waiting 12.5 s (1 request left)\n".
std::string quota_trace_line(std::chrono::nanoseconds wait, std::int64_t remaining);
