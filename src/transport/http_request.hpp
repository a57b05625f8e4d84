// One blocking HTTP request over libcurl. Takes and returns plain C++ values
// only, so it runs with the interpreter lock released; it writes no trace
// line itself: request_trace_lines says what the caller traces beforehand.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Complete header lines ("Name: value"), sent and traced in order.
using HeaderLines = std::vector<std::string>;

struct HttpResult {
    // The HTTP code of the final response, libcurl's non-zero result code
    // after a failed transfer, or -1 when no transfer handle could be made.
    std::int32_t status = 0;
    // The response bytes up to the first NUL, or libcurl's error text.
    std::string body;
};

// What a request takes from the environment, read while the interpreter lock
// is held: Python threads change the environment (os.environ) under that lock.
struct RequestEnvironment {
    std::optional<std::string> http_proxy;  // when set, even empty
    std::optional<std::string> ca_file;     // CURL_CA_BUNDLE, when set and not empty
};

RequestEnvironment read_request_environment();

struct HttpRequest {
    std::string method;  // any letter case
    std::string url;
    HeaderLines header_lines;
    std::optional<std::string> body;   // ignored by GET and DELETE
    std::optional<std::string> proxy;  // present: replaces http_proxy; empty means a direct connection
    RequestEnvironment environment;
};

// The lines traced for a request, each ending in a line feed, in order: every
// header line (credentials masked), "proxy: " when http_proxy is set,
// "user_proxy: " when the request has a proxy, "http_method: <lower> url: <url>".
std::vector<std::string> request_trace_lines(const HttpRequest& request);

HttpResult http_request(const HttpRequest& request);
