// The Cloudflare request layer: every operation reaches the service through `request`.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cloudflare/cloudflare.hpp"
#include "transport/http_request.hpp"

// The two header lines of every request, the Authorization line carrying the
// token. Raises (and returns nullopt) when the token cannot be sent safely.
std::optional<HeaderLines> GetCloudflareHttpRequestHeaders(CloudflareObject* self);

// The base URL followed directly by `path`, or by the default zone listing when
// there is no path.
std::optional<std::string> BuildCloudflareFullUrl(CloudflareObject* self, const std::optional<std::string>& path);

// Performs one request and returns the (status, body) tuple, or null with an
// exception set when the instance's fields cannot be turned into a request.
qov::Ref request(std::string_view method, CloudflareObject* self, const std::optional<std::string>& path,
                 const std::optional<std::string>& body);
