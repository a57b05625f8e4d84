// The zone lookup, shared by `query` and the listing's automatic lookup.
#pragma once

#include "cloudflare/cloudflare.hpp"

// Why a lookup returned null.
enum class LookupFailure {
    no_zone,  // the answer named no usable zone, or the service could not be reached
    other,    // no request could be made from the instance's fields, or memory ran out
};

// Lists the zones named `domain`; on success remembers the first zone's id in
// `zone_id` and `domain` as given in `zone`, and returns the listing's response
// tuple. Otherwise returns null with an exception set and both fields unchanged.
qov::Ref look_up_zone(CloudflareObject* self, const char* domain, LookupFailure& failure);
