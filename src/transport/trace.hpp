// What the trace may show of a request: credentials masked.
#pragma once

#include <string>
#include <string_view>

// A header line as it may be shown: the credentials of an Authorization line
// become "****", keeping the scheme ("Authorization: Bearer ****").
std::string traceable_header_line(std::string_view line);

// A URL or proxy (with or without a scheme) as it may be shown: the password of
// a "user:password@" part becomes "****" ("user:****@"), and a user name given
// without a password, which often is a token itself, becomes "****" ("****@").
// That part runs from the scheme's "//" to the last '@', whatever characters
// the password holds.
std::string without_credentials(std::string_view url);

// A proxy as it may be shown: its credentials masked as above.
std::string traceable_proxy(std::string_view proxy);

// A URL as it may be shown: credentials masked as above, and the value of an
// access_token query key becomes "****".
std::string traceable_url(std::string_view url);
