// Whether to send a request again after one attempt, and after how long:
// the rules for rate limits (429), transient service failures (408, 500,
// 502, 503, 504) and transfers that failed before any answer arrived. Pure
// decisions on plain values, so they run anywhere and test without a server.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// How often a request is tried again unless its caller says otherwise (a
// macro too, for the signature line that shows it).
#define QOV_DEFAULT_MAX_RETRIES 2
inline constexpr int kDefaultMaxRetries = QOV_DEFAULT_MAX_RETRIES;

struct RetryPolicy {
    int max_retries = kDefaultMaxRetries;                 // attempts after the first; 0 or less: none
    std::chrono::milliseconds longest_wait{60'000};       // a longer wait is not made: the answer stands
    std::chrono::milliseconds first_backoff{1'000};       // without Retry-After: 1 s, then 2 s, 4 s, ...
};

// How one attempt ended.
struct AttemptOutcome {
    std::int32_t http_status = 0;            // the answer's status; 0 when the transfer failed
    std::int32_t curl_code = 0;              // libcurl's CURLcode when the transfer failed; 0 when it completed
    bool answer_started = false;             // the failed transfer had received part of an answer
    std::optional<std::string> retry_after;  // the answer's Retry-After value, when it had one
};

struct RetryDecision {
    bool retry = false;
    std::chrono::milliseconds wait{0};  // before the next attempt, when retrying
};

// A number drawn uniformly from [0, 1), for the spread of back-off waits.
using UnitRandom = std::function<double()>;

// Draws from a generator of the calling thread's own, seeded once per thread.
double thread_unit_random();

// Decides after attempt number `attempt` (1 for the first) of `method` (any
// letter case) that ended with `outcome`, at `now` (for a Retry-After date):
// - 429 is retried for every method: the service did not process the request.
// - 408, 500, 502, 503, 504, and a transfer that failed before any part of
//   an answer arrived (connection refused, reset, closed without an answer,
//   the time-out: CURLE_COULDNT_CONNECT, CURLE_SEND_ERROR, CURLE_RECV_ERROR,
//   CURLE_GOT_NOTHING, CURLE_OPERATION_TIMEDOUT) are retried only for GET,
//   PUT, PATCH and DELETE, never for POST, whose outcome is then unknown.
// - Nothing else is retried, nor anything once `policy.max_retries` retries
//   were made.
// The wait is the Retry-After value when the answer had a readable one, or
// else first_backoff doubled for each retry already made, plus a spread of up
// to a quarter of it drawn from `unit_random`. A wait over longest_wait is
// not made: the decision is then not to retry.
RetryDecision decide_retry(const RetryPolicy& policy, std::string_view method, const AttemptOutcome& outcome,
                           int attempt, std::chrono::system_clock::time_point now, const UnitRandom& unit_random);

// The trace line written before a wait, line feed included:
// "retry: 429, waiting 2 s (attempt 2 of 3)\n" for an answer,
// "retry: curl error 28, waiting 1.1 s (attempt 2 of 3)\n" for a failed
// transfer. `next_attempt` counts from 1; `attempts` is 1 + max_retries.
std::string retry_trace_line(const AttemptOutcome& outcome, std::chrono::milliseconds wait, int next_attempt,
                             int attempts);
