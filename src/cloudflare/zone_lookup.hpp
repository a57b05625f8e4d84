// The zone lookup, shared by `query` and the listing's automatic lookup.
#pragma once

#include <optional>
#include <string>

#include "cloudflare/call_context.hpp"
#include "cloudflare/cloudflare.hpp"

// Why a lookup returned nothing.
enum class LookupFailure {
    no_zone,  // the answer named no usable zone, or the service could not be reached
    other,    // memory ran out
};

struct ZoneFound {
    HttpResult response;  // the zone listing as answered
    std::string zone_id;  // the first zone's id
};

// Lists the zones named `domain` from `call`; on success remembers the first
// zone's id in `zone_id` and `domain` as given in `zone`. Otherwise raises and
// leaves both fields unchanged. Needs the interpreter lock.
std::optional<ZoneFound> look_up_zone(CloudflareObject* self, const CloudflareCall& call, const char* domain,
                                      LookupFailure& failure);
