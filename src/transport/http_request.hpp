// One blocking HTTP request over libcurl. Takes and returns plain C++ values
// only, so it runs with the interpreter lock released.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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

// `method` in any letter case; `body` is ignored by GET and DELETE; a `proxy`
// that is present replaces the http_proxy environment variable, and an empty
// one means a direct connection.
HttpResult http_request(std::string_view method, const std::string& url, const HeaderLines& header_lines,
                        const std::optional<std::string>& body, const std::optional<std::string>& proxy,
                        const RequestEnvironment& environment);
