#include "cloudflare/request.hpp"

#include <chrono>

#include "cloudflare/quota_holds.hpp"
#include "common/perform.hpp"
#include "common/trace_writer.hpp"
#include "transport/ratelimit.hpp"
#include "transport/retry_policy.hpp"

namespace {

constexpr std::string_view kDefaultPath = "/zones?page=1&per_page=20&order=status&direction=desc&match=all";

AttemptOutcome attempt_outcome(const HttpResult& result) {
    return {result.http_status, result.failure, result.answer_started, result.retry_after};
}

// Waits, with the lock released, while an earlier answer for the token asked
// to hold its requests until its quota resets; each wait writes a trace line.
// False with the exception set when a signal handler raised (Ctrl-C) meanwhile.
bool wait_for_quota(const std::string& token) {
    QuotaHolds& holds = token_quota_holds();
    while (const std::optional<QuotaHolds::Hold> hold = holds.pending(token, QuotaHolds::Clock::now())) {
        write_trace(quota_trace_line(hold->wait, hold->remaining), TraceLevel::wait);
        if (!qov::pause(hold->wait)) return false;
    }
    return true;
}

// A quota at or near zero holds the token's next request. A 429 is left to
// its Retry-After: the service is refusing already.
void note_quota(const std::string& token, const HttpResult& result, const RetryPolicy& policy) {
    if (result.failure != 0 || result.http_status == 429) return;
    if (const std::optional<QuotaHold> hold = quota_backoff(result.ratelimit, result.ratelimit_policy,
                                                            policy.longest_wait)) {
        token_quota_holds().hold(token, QuotaHolds::Clock::now() + hold->wait, hold->remaining);
    }
}

}  // namespace

HeaderLines GetCloudflareHttpRequestHeaders(std::string_view token) {
    std::string authorization = "Authorization: Bearer ";
    authorization += token;
    return HeaderLines{"Content-Type: application/json", std::move(authorization)};
}

std::string BuildCloudflareFullUrl(std::string_view base_url, const std::optional<std::string>& path) {
    std::string url(base_url);
    if (path) {
        url += *path;
    } else {
        url += kDefaultPath;
    }
    return url;
}

std::optional<HttpResult> request(const CloudflareCall& call, std::string_view method,
                                  const std::optional<std::string>& path, const std::optional<std::string>& body) {
    HttpRequest http;
    http.method = std::string(method);
    http.url = BuildCloudflareFullUrl(call.api_url, path);
    http.header_lines = GetCloudflareHttpRequestHeaders(call.api_token);
    http.body = body;
    http.proxy = call.proxy;  // always handed on: an empty one keeps http_proxy out of Cloudflare requests
    http.environment = call.environment;
    http.timeout_seconds = call.limits.timeout;

    const RetryPolicy policy{call.limits.max_retries};
    for (int attempt = 1;; ++attempt) {
        if (!wait_for_quota(call.api_token)) return std::nullopt;
        std::optional<HttpResult> result = qov::perform(http);
        if (!result) return std::nullopt;
        note_quota(call.api_token, *result, policy);
        const AttemptOutcome outcome = attempt_outcome(*result);
        const RetryDecision decision =
            decide_retry(policy, method, outcome, attempt, std::chrono::system_clock::now(), thread_unit_random);
        if (!decision.retry) return result;
        write_trace(retry_trace_line(outcome, decision.wait, attempt + 1, policy.max_retries + 1), TraceLevel::wait);
        if (!qov::pause(decision.wait)) return std::nullopt;
    }
}
