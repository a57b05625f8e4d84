#include "cloudflare/request.hpp"

#include <chrono>

#include "common/perform.hpp"
#include "common/trace_writer.hpp"
#include "transport/retry_policy.hpp"

namespace {

constexpr std::string_view kDefaultPath = "/zones?page=1&per_page=20&order=status&direction=desc&match=all";

// An HTTP answer of any status, or a transfer that failed (libcurl's code, or
// -1 when no transfer could start).
AttemptOutcome attempt_outcome(const HttpResult& result) {
    AttemptOutcome outcome;
    if (result.status >= 100) {
        outcome.http_status = result.status;
    } else {
        outcome.curl_code = result.status;
        outcome.answer_started = result.answer_started;
    }
    outcome.retry_after = result.retry_after;
    return outcome;
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
        std::optional<HttpResult> result = qov::perform(http);
        if (!result) return std::nullopt;
        const AttemptOutcome outcome = attempt_outcome(*result);
        const RetryDecision decision =
            decide_retry(policy, method, outcome, attempt, std::chrono::system_clock::now(), thread_unit_random);
        if (!decision.retry) return result;
        write_trace(retry_trace_line(outcome, decision.wait, attempt + 1, policy.max_retries + 1), TraceLevel::wait);
        if (!qov::pause(decision.wait)) return std::nullopt;
    }
}
