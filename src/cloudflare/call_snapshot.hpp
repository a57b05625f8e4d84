// The interpreter side of a Cloudflare call: reading the object's fields into
// a call context (raising there), and making the script's objects from what
// the requests returned. Both need the interpreter lock.
#pragma once

#include <optional>
#include <string>

#include "cloudflare/call_context.hpp"
#include "cloudflare/cloudflare.hpp"

// True when `zone_id` holds a non-empty value: reading the attribute of a
// fresh object stores "", which counts as no zone.
bool has_zone_id(CloudflareObject* self);

// The remembered zone id as UTF-8. Raises NoZoneError (a TypeError) "Zone id is null, please
// query domain first." when there is none, ValueError when it is not one path segment.
std::optional<std::string> remembered_zone_id(CloudflareObject* self);

// The token, base URL, proxy and request environment, with `zone_id` as given.
// Raises when the token or URL cannot be sent (deleted, no UTF-8 form, a line
// break in the token).
std::optional<CloudflareCall> read_call(CloudflareObject* self, std::string zone_id = {});

// A new (status, body) Response; bytes of the body that are not UTF-8 become
// U+FFFD. `action` is what dns_ensured_record did (null for None).
qov::Ref response_tuple(const HttpResult& result, const char* action = nullptr);
// The same, passing on a request that ended with an exception set (nullopt).
qov::Ref response_tuple(const std::optional<HttpResult>& result);
// A Response of a status and a message made by the caller (borrowed; null
// passes on an exception already set).
qov::Ref response_tuple(PyObject* status, PyObject* message, const char* action);

// The UTF-8 text of the body string response_tuple would make, for parsing an
// answer as the script would see it.
std::optional<std::string> lenient_utf8(const std::string& bytes);
