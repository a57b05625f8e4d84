// Paths under the remembered zone, and the checks that keep ids and query
// values from changing what the path addresses.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cloudflare/cloudflare.hpp"

// "/zones/" + zone_id + suffix. Raises TypeError "Zone id is null, please query
// domain first." when no zone is remembered, and ValueError for an unsafe id.
std::optional<std::string> zone_scoped_path(CloudflareObject* self, std::string_view suffix);

// True when `segment` stays one path segment: no "/", "?", "#", "%", backslash,
// whitespace or control character, and not "." or "..". The empty segment passes.
bool is_single_path_segment(std::string_view segment);

// is_single_path_segment, raising ValueError naming `what` when it is not.
bool check_path_segment(std::string_view segment, const char* what);

// Percent-encodes every byte but the unreserved characters, for a query value.
// Raises MemoryError when libcurl cannot.
std::optional<std::string> escaped_query_value(std::string_view value);
