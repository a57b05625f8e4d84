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
// released. Needs the lock; touches no interpreter object.
HttpResult request(const CloudflareCall& call, std::string_view method, const std::optional<std::string>& path,
                   const std::optional<std::string>& body);
