// What a Cloudflare instance allows each request: plain values, kept on the
// object and copied into every call's context.
#pragma once

struct CloudflareLimits {
    double timeout = 30;  // seconds for the whole of one transfer; 0: no limit
    int max_retries = 2;  // tries after the first, for a 429 and transient failures
};
