// The exceptions of a call that has no zone to work in. Each is a qov.Error
// and stays catchable as the built-in class it was raised as before.
#pragma once

#include "cloudflare/call_context.hpp"

// NoZoneError (a TypeError): "Zone id is null, please query domain first.".
std::nullptr_t raise_no_zone();

// ZoneNotFoundError (a TypeError) "Domain not found: <domain>", or "Domain not
// found!" when `domain` is null. When the exception set now is a
// ZoneLookupError, or carries one as its cause, that lookup error becomes the
// new exception's cause, so a traceback shows why the zone was not found.
std::nullptr_t raise_zone_not_found(const char* domain);

// ZoneLookupError with `message` (UTF-8), carrying the domain and the lookup
// answer's status and body.
std::nullptr_t raise_zone_lookup_error(const char* message, const char* domain, const HttpResult& answer);
