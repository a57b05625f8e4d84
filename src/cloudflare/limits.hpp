// What a Cloudflare instance allows each request: plain values, kept on the
// object and copied into every call's context.
#pragma once

#include "transport/http_request.hpp"
#include "transport/retry_policy.hpp"

struct CloudflareLimits {
    double timeout = kDefaultTimeoutSeconds;  // seconds for the whole of one transfer; 0: no limit
    int max_retries = kDefaultMaxRetries;     // tries after the first, for a 429 and transient failures
};
