// The Cloudflare request layer: every request of every method is performed
// from its call context through `request`.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cloudflare/call_context.hpp"
#include "transport/http_request.hpp"

// The two header lines of every request, the Authorization line carrying the token.
HeaderLines GetCloudflareHttpRequestHeaders(std::string_view token);

// The base URL followed directly by `path`, or by the default zone listing when
// there is no path.
std::string BuildCloudflareFullUrl(std::string_view base_url, const std::optional<std::string>& path);

// Performs one request: traces it and transfers it with the interpreter lock
// released, and tries it again, after a wait with the lock released and a
// trace line, as the call's limits and the retry policy allow (a 429; a
// transient failure of a method that is safe to repeat). Before each attempt
// it waits, the same way, while an earlier answer for the token said that its
// quota was at or near zero (see token_quota_holds). Needs the lock.
// nullopt with the exception set when a signal handler raised (Ctrl-C) during
// a transfer or a wait.
std::optional<HttpResult> request(const CloudflareCall& call, std::string_view method,
                                  const std::optional<std::string>& path, const std::optional<std::string>& body);
