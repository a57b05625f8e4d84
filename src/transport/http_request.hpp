// One blocking HTTP request over libcurl. Takes and returns plain C++ values
// only, so it runs with the interpreter lock released; it writes no trace
// line itself: request_trace_lines says what the caller traces beforehand.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "transport/transfer_loop.hpp"
#include "transport/trust_sources.hpp"

// Complete header lines ("Name: value"), sent and traced in order.
using HeaderLines = std::vector<std::string>;

// The seconds one transfer may take unless its caller says otherwise. A
// macro too, so the signature lines that show it are made from this one token.
#define QOV_DEFAULT_TIMEOUT_SECONDS 30
inline constexpr double kDefaultTimeoutSeconds = QOV_DEFAULT_TIMEOUT_SECONDS;

struct HttpResult {
    // The HTTP code of the final response; 0 when the transfer failed.
    std::int32_t http_status = 0;
    // Why the transfer failed: libcurl's non-zero result code, or -1 when no
    // transfer handle could be made; 0 when it completed.
    std::int32_t failure = 0;
    // The response bytes up to the first NUL, or libcurl's error text.
    std::string body;
    // The caller's interrupt check ended the transfer (failure 42,
    // CURLE_ABORTED_BY_CALLBACK): the caller reports its own reason instead.
    bool interrupted = false;
    // Some of an answer arrived (a status line at least), even when the transfer then failed.
    bool answer_started = false;
    // Headers of the final answer, as libcurl keeps them (blanks around the
    // value left out): the first Retry-After, and every Ratelimit and
    // Ratelimit-Policy line joined with ", " (each is a list).
    std::optional<std::string> retry_after{};
    std::optional<std::string> ratelimit{};
    std::optional<std::string> ratelimit_policy{};
};

// The number a script is shown as the status of a result: the HTTP code of a
// completed transfer, the failure code of one that failed.
inline std::int32_t shown_status(const HttpResult& result) {
    return result.failure != 0 ? result.failure : result.http_status;
}

// What a request takes from the environment, read while the interpreter lock
// is held: Python threads change the environment (os.environ) under that lock.
struct RequestEnvironment {
    std::optional<std::string> http_proxy;  // when set, even empty
    TrustVariables trust;                   // CURL_CA_BUNDLE, SSL_CERT_FILE, SSL_CERT_DIR
};

RequestEnvironment read_request_environment();

// Everything one request needs. Performing it changes nothing in it, so the
// same request may be performed again.
struct HttpRequest {
    std::string method;  // any letter case
    std::string url;     // http:// or https:// only
    HeaderLines header_lines;
    std::optional<std::string> body;   // ignored by GET and DELETE
    std::optional<std::string> proxy;  // present: replaces http_proxy; empty means a direct connection
    RequestEnvironment environment;
    double timeout_seconds = kDefaultTimeoutSeconds;  // for the whole transfer, redirects included; 0: no limit
    // Present: a kept connection idle for longer than this many whole seconds
    // is not used again (libcurl's own default is about two minutes).
    std::optional<long> max_idle_seconds{};
};

// The lines traced for a request, each ending in a line feed, in order: every
// header line (credentials masked), "proxy: " when http_proxy is set,
// "user_proxy: " when the request has a proxy, "http_method: <lower> url: <url>".
std::vector<std::string> request_trace_lines(const HttpRequest& request);

// Performs the request. Only GET follows redirects (at most 10, over http and
// https only, never sending the Authorization header to another host); another
// method gets a redirect answer back as it came. A body larger than 64 MiB
// ends the transfer with status 63. When `interrupted` is given it is asked
// about every quarter of a second while the request waits, and true ends it.
HttpResult http_request(const HttpRequest& request, const InterruptCheck& interrupted = {});
