#include "transport/retry_policy.hpp"

#include <curl/curl.h>
#include <sys/random.h>

#include <algorithm>
#include <chrono>
#include <random>

#include "transport/ascii_case.hpp"
#include "transport/retry_after.hpp"
#include "transport/wait_text.hpp"

namespace {

constexpr double kBackoffSpread = 0.25;  // a back-off wait grows by up to a quarter, at random
constexpr int kLongestDoubling = 30;     // beyond it every back-off is far over any longest wait

// Methods whose request may be sent twice without doing more than once.
bool repeatable(std::string_view method) {
    for (std::string_view name : {"GET", "PUT", "PATCH", "DELETE"}) {
        if (ascii_iequals(method, name)) return true;
    }
    return false;
}

// Transfers that ended before the service could have answered: nothing of
// the answer is lost, though a request that was sent may have been processed.
bool failed_before_any_answer(const AttemptOutcome& outcome) {
    if (outcome.answer_started) return false;
    switch (outcome.curl_code) {
        case CURLE_COULDNT_CONNECT:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_OPERATION_TIMEDOUT:
            return true;
        default:
            return false;
    }
}

bool transient_status(std::int32_t status) {
    switch (status) {
        case 408:  // the server gave up waiting for the request
        case 500:
        case 502:
        case 503:
        case 504:
            return true;
        default:
            return false;
    }
}

std::chrono::milliseconds backoff(const RetryPolicy& policy, int retries_made, const UnitRandom& unit_random) {
    const double base = static_cast<double>(policy.first_backoff.count()) *
                        static_cast<double>(1LL << std::clamp(retries_made, 0, kLongestDoubling));
    const double spread = std::clamp(unit_random ? unit_random() : 0.0, 0.0, 1.0) * kBackoffSpread;
    return std::chrono::milliseconds{static_cast<std::int64_t>(base * (1.0 + spread))};
}

// A seed from the kernel, or the clock where it has none to give. Not
// std::random_device: the C++ runtime is linked into the module, and its
// random_device needs a newer C library than the rest of the module does.
std::uint64_t thread_seed() {
    std::uint64_t seed = 0;
    if (getrandom(&seed, sizeof seed, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof seed)) return seed;
    return static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

}  // namespace

double thread_unit_random() {
    thread_local std::mt19937_64 generator{thread_seed()};
    return std::uniform_real_distribution<double>(0.0, 1.0)(generator);
}

RetryDecision decide_retry(const RetryPolicy& policy, std::string_view method, const AttemptOutcome& outcome,
                           int attempt, std::chrono::system_clock::time_point now, const UnitRandom& unit_random) {
    const int retries_made = std::max(attempt, 1) - 1;
    if (retries_made >= policy.max_retries) return {};
    const bool failed = outcome.curl_code != 0;
    const bool rate_limited = !failed && outcome.http_status == 429;
    const bool transient = failed ? failed_before_any_answer(outcome) : transient_status(outcome.http_status);
    if (!rate_limited && !(transient && repeatable(method))) return {};

    std::optional<std::chrono::milliseconds> wait;
    if (!failed && outcome.retry_after) wait = parse_retry_after(*outcome.retry_after, now);
    if (!wait) wait = backoff(policy, retries_made, unit_random);
    if (*wait > policy.longest_wait) return {};
    return {true, *wait};
}

std::string retry_trace_line(const AttemptOutcome& outcome, std::chrono::milliseconds wait, int next_attempt,
                             int attempts) {
    std::string line = "retry: ";
    line += outcome.curl_code != 0 ? "curl error " + std::to_string(outcome.curl_code)
                                   : std::to_string(outcome.http_status);
    line += ", waiting " + wait_text(wait);
    line += " (attempt " + std::to_string(next_attempt) + " of " + std::to_string(attempts) + ")\n";
    return line;
}
