// Retry decisions, Retry-After values and the retry trace line.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "transport/retry_after.hpp"
#include "transport/retry_policy.hpp"

namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

// Monday, 1 January 2024, 12:00:00 UTC.
const std::chrono::system_clock::time_point kNow = std::chrono::sys_days{2024y / 1 / 1} + 12h;

AttemptOutcome answer(int status, std::optional<std::string> retry_after = std::nullopt) {
    return {status, 0, false, std::move(retry_after)};
}

AttemptOutcome failure(int curl_code, bool answer_started = false) { return {0, curl_code, answer_started, {}}; }

struct DecisionCase {
    const char* what;
    const char* method;
    AttemptOutcome outcome;
    int attempt;
    int max_retries;
    double random;                      // the draw for the back-off spread
    std::optional<milliseconds> wait;   // empty: no retry
};

void PrintTo(const DecisionCase& c, std::ostream* out) { *out << c.what; }

class DecisionTest : public ::testing::TestWithParam<DecisionCase> {};

TEST_P(DecisionTest, RetriesWhatIsSafeAndWaitsAsAsked) {
    const DecisionCase& c = GetParam();
    RetryPolicy policy;
    policy.max_retries = c.max_retries;
    const RetryDecision decision = decide_retry(policy, c.method, c.outcome, c.attempt, kNow, [&] { return c.random; });
    EXPECT_EQ(decision.retry, c.wait.has_value());
    if (c.wait) {
        EXPECT_EQ(decision.wait, *c.wait);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecisionTest,
    ::testing::Values(
        // 429: any method, the service's wait when it names one, within 60 s.
        DecisionCase{"429 Retry-After 1", "GET", answer(429, "1"), 1, 2, 0.0, 1000ms},
        DecisionCase{"429 POST", "POST", answer(429, "2"), 1, 2, 0.0, 2000ms},
        DecisionCase{"429 Retry-After 60 is made", "GET", answer(429, "60"), 1, 2, 0.0, 60000ms},
        DecisionCase{"429 Retry-After 61 is not", "GET", answer(429, "61"), 1, 2, 0.0, std::nullopt},
        DecisionCase{"429 Retry-After 120", "PUT", answer(429, "120"), 1, 2, 0.0, std::nullopt},
        DecisionCase{"429 Retry-After date", "GET", answer(429, "Mon, 01 Jan 2024 12:00:05 GMT"), 1, 2, 0.0, 5000ms},
        DecisionCase{"429 Retry-After past", "GET", answer(429, "Mon, 01 Jan 2024 11:00:00 GMT"), 1, 2, 0.0, 0ms},
        DecisionCase{"429 Retry-After year 3000", "GET", answer(429, "Wed, 01 Jan 3000 00:00:00 GMT"), 1, 2, 0.0,
                     std::nullopt},
        DecisionCase{"429 unreadable Retry-After", "GET", answer(429, "soon"), 1, 2, 0.0, 1000ms},
        // Without Retry-After: 1 s, then 2 s, each up to a quarter longer.
        DecisionCase{"backoff first", "GET", answer(429), 1, 2, 0.0, 1000ms},
        DecisionCase{"backoff first spread", "GET", answer(429), 1, 2, 0.999, 1249ms},
        DecisionCase{"backoff second", "GET", answer(429), 2, 2, 0.5, 2250ms},
        DecisionCase{"backoff sixth 32 s", "GET", answer(429), 6, 9, 0.0, 32000ms},
        DecisionCase{"backoff seventh 64 s", "GET", answer(429), 7, 9, 0.0, std::nullopt},
        // Tries used up.
        DecisionCase{"third attempt of three", "GET", answer(429, "1"), 3, 2, 0.0, std::nullopt},
        DecisionCase{"max_retries 0", "GET", answer(429, "1"), 1, 0, 0.0, std::nullopt},
        DecisionCase{"max_retries negative", "GET", answer(503), 1, -1, 0.0, std::nullopt},
        // 502, 503, 504: only methods safe to repeat.
        DecisionCase{"503 GET", "GET", answer(503), 1, 2, 0.0, 1000ms},
        DecisionCase{"503 GET Retry-After", "GET", answer(503, "3"), 1, 2, 0.0, 3000ms},
        DecisionCase{"502 PUT", "PUT", answer(502), 1, 2, 0.0, 1000ms},
        DecisionCase{"504 DELETE", "DELETE", answer(504), 2, 2, 0.0, 2000ms},
        DecisionCase{"504 patch lower case", "patch", answer(504), 1, 2, 0.0, 1000ms},
        DecisionCase{"503 POST", "POST", answer(503, "1"), 1, 2, 0.0, std::nullopt},
        // 500 and 408 as well, as the service's own SDK does.
        DecisionCase{"500 GET", "GET", answer(500), 1, 2, 0.0, 1000ms},
        DecisionCase{"500 PUT", "PUT", answer(500), 2, 2, 0.0, 2000ms},
        DecisionCase{"500 PATCH", "PATCH", answer(500, "2"), 1, 2, 0.0, 2000ms},
        DecisionCase{"500 DELETE", "DELETE", answer(500), 1, 2, 0.0, 1000ms},
        DecisionCase{"500 POST", "POST", answer(500), 1, 2, 0.0, std::nullopt},
        DecisionCase{"408 GET", "GET", answer(408), 1, 2, 0.0, 1000ms},
        DecisionCase{"408 PUT", "PUT", answer(408), 1, 2, 0.0, 1000ms},
        DecisionCase{"408 patch lower case", "patch", answer(408), 1, 2, 0.0, 1000ms},
        DecisionCase{"408 DELETE", "DELETE", answer(408), 3, 2, 0.0, std::nullopt},
        DecisionCase{"408 POST", "POST", answer(408), 1, 2, 0.0, std::nullopt},
        DecisionCase{"200 GET", "GET", answer(200), 1, 2, 0.0, std::nullopt},
        DecisionCase{"404 GET", "GET", answer(404), 1, 2, 0.0, std::nullopt},
        // Transfers that failed before any answer: refused, reset, closed, timed out.
        DecisionCase{"refused GET", "GET", failure(7), 1, 2, 0.0, 1000ms},
        DecisionCase{"refused POST", "POST", failure(7), 1, 2, 0.0, std::nullopt},
        DecisionCase{"reset on receive PUT", "PUT", failure(56), 1, 2, 0.0, 1000ms},
        DecisionCase{"reset on send DELETE", "DELETE", failure(55), 1, 2, 0.0, 1000ms},
        DecisionCase{"closed without answer PATCH", "PATCH", failure(52), 1, 2, 0.0, 1000ms},
        DecisionCase{"time-out GET", "GET", failure(28), 2, 2, 0.0, 2000ms},
        DecisionCase{"time-out POST", "POST", failure(28), 1, 2, 0.0, std::nullopt},
        DecisionCase{"time-out mid-answer", "GET", failure(28, true), 1, 2, 0.0, std::nullopt},
        DecisionCase{"reset mid-answer", "GET", failure(56, true), 1, 2, 0.0, std::nullopt},
        DecisionCase{"unknown host", "GET", failure(6), 1, 2, 0.0, std::nullopt},
        DecisionCase{"untrusted certificate", "GET", failure(60), 1, 2, 0.0, std::nullopt},
        DecisionCase{"no transfer handle", "GET", failure(-1), 1, 2, 0.0, std::nullopt}));

struct RetryAfterCase {
    const char* value;
    std::optional<milliseconds> wait;  // empty: not a Retry-After value
};

void PrintTo(const RetryAfterCase& c, std::ostream* out) { *out << '"' << c.value << '"'; }

class RetryAfterTest : public ::testing::TestWithParam<RetryAfterCase> {};

TEST_P(RetryAfterTest, ReadsSecondsAndTheThreeDateForms) {
    EXPECT_EQ(parse_retry_after(GetParam().value, kNow), GetParam().wait);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RetryAfterTest,
    ::testing::Values(RetryAfterCase{"0", 0ms}, RetryAfterCase{"1", 1000ms}, RetryAfterCase{" 120\t", 120000ms},
                      RetryAfterCase{"99999999999999999999", std::chrono::seconds{1'000'000'000}},
                      RetryAfterCase{"Wed, 01 Jan 3000 00:00:00 GMT", std::chrono::seconds{1'000'000'000}},
                      RetryAfterCase{"Thu, 01 Jan 1970 00:00:00 GMT", 0ms},
                      RetryAfterCase{"", std::nullopt}, RetryAfterCase{"-1", std::nullopt},
                      RetryAfterCase{"1.5", std::nullopt}, RetryAfterCase{"2 s", std::nullopt},
                      RetryAfterCase{"soon", std::nullopt},
                      RetryAfterCase{"Mon, 01 Jan 2024 12:00:05 GMT", 5000ms},
                      RetryAfterCase{"mon, 01 jan 2024 12:00:05 GMT", 5000ms},
                      RetryAfterCase{"Sun, 31 Dec 2023 23:59:59 GMT", 0ms},
                      RetryAfterCase{"Monday, 01-Jan-24 12:01:00 GMT", 60000ms},
                      RetryAfterCase{"Monday, 01-Jan-75 12:01:00 GMT", 0ms},  // 1975: more than 50 years ahead
                      RetryAfterCase{"Mon Jan  1 12:00:30 2024", 30000ms},
                      RetryAfterCase{"Mon Jan 11 12:00:00 2024", std::chrono::hours{240}},
                      RetryAfterCase{"Mon, 32 Jan 2024 12:00:00 GMT", std::nullopt},
                      RetryAfterCase{"Mon, 01 Foo 2024 12:00:00 GMT", std::nullopt},
                      RetryAfterCase{"Mon, 01 Jan 2024 24:00:00 GMT", std::nullopt},
                      RetryAfterCase{"Mon, 01 Jan 2024 12:00:05 UTC", 5000ms}));

TEST(RetryAfter, DateIsRoundedUpToTheMillisecond) {
    EXPECT_EQ(parse_retry_after("Mon, 01 Jan 2024 12:00:05 GMT", kNow + 250500us), 4750ms);
}

struct TraceCase {
    AttemptOutcome outcome;
    milliseconds wait;
    int next_attempt;
    int attempts;
    const char* line;
};

// Named without the line feed, which would break CTest's one line per case.
void PrintTo(const TraceCase& c, std::ostream* out) {
    const std::string_view line(c.line);
    *out << line.substr(0, line.find('\n'));
}

class TraceTest : public ::testing::TestWithParam<TraceCase> {};

TEST_P(TraceTest, SaysWhyHowLongAndWhichAttempt) {
    const TraceCase& c = GetParam();
    EXPECT_EQ(retry_trace_line(c.outcome, c.wait, c.next_attempt, c.attempts), c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TraceTest,
    ::testing::Values(TraceCase{answer(429), 2000ms, 2, 3, "retry: 429, waiting 2 s (attempt 2 of 3)\n"},
                      TraceCase{answer(503), 1249ms, 3, 3, "retry: 503, waiting 1.2 s (attempt 3 of 3)\n"},
                      TraceCase{answer(429), 1250ms, 2, 3, "retry: 429, waiting 1.3 s (attempt 2 of 3)\n"},
                      TraceCase{answer(429), 1950ms, 2, 3, "retry: 429, waiting 2 s (attempt 2 of 3)\n"},
                      TraceCase{answer(429), 0ms, 2, 2, "retry: 429, waiting 0 s (attempt 2 of 2)\n"},
                      TraceCase{answer(429), 60000ms, 2, 6, "retry: 429, waiting 60 s (attempt 2 of 6)\n"},
                      TraceCase{failure(28), 1130ms, 2, 3, "retry: curl error 28, waiting 1.1 s (attempt 2 of 3)\n"},
                      TraceCase{failure(7), 2000ms, 3, 3, "retry: curl error 7, waiting 2 s (attempt 3 of 3)\n"}));

}  // namespace
