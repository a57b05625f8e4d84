// The zone a record listing reads, shared by dns_get_records and dns_ensured_record.
#pragma once

#include <optional>

#include "cloudflare/call_context.hpp"
#include "cloudflare/cloudflare.hpp"

// The call context of a listing of `domain`'s records (null: of the
// remembered zone). Writes "current_domain: <zone>" when a zone is remembered
// and a domain given, and looks the zone up when the domain is not the
// remembered one. Raises TypeError "Domain not found: <domain>" when the
// lookup finds no zone, "domain should be a string" when neither a domain nor
// a zone id is there, and "Domain not found!" when the domain is the
// remembered zone but no zone id is.
std::optional<CloudflareCall> listing_call(CloudflareObject* self, const char* domain);
