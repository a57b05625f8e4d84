// What one Cloudflare method call reads from its object, as plain values, so
// every request of the call uses the same fields whatever another thread does
// to the object meanwhile, and none of it needs the interpreter.
#pragma once

#include <string>

#include "cloudflare/limits.hpp"
#include "transport/http_request.hpp"

struct CloudflareCall {
    std::string api_url;    // the base URL every path is appended to
    std::string api_token;  // checked: no CR, LF or NUL
    std::string proxy;      // empty: a direct connection
    RequestEnvironment environment;
    std::string zone_id;    // the zone of a zone-scoped call, checked to be one path segment; else empty
    CloudflareLimits limits;
};
