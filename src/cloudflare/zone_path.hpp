// Paths under the remembered zone, and the checks that keep ids and query
// values from changing what the path addresses.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cloudflare/path_segment.hpp"
#include "common/interp.hpp"

// "/zones/" + zone_id + suffix.
std::string zone_scoped_path(std::string_view zone_id, std::string_view suffix);

// "/zones/" + zone_id + "/dns_records/" + record_id: one record, its id checked beforehand.
std::string record_path(std::string_view zone_id, std::string_view record_id);

// is_single_path_segment, raising ValueError naming `what` when it is not.
bool check_path_segment(std::string_view segment, const char* what);

// Percent-encodes every byte but the unreserved characters, for a query value.
// Raises MemoryError when libcurl cannot.
std::optional<std::string> escaped_query_value(std::string_view value);
