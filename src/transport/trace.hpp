// Trace lines on the process's standard output (C stdio, not flushed).
#pragma once

#include <string>
#include <string_view>

// printf to standard output; no prefix, no line feed added.
int debug(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A header line as it may be shown: the credentials of an Authorization line
// become "****", keeping the scheme ("Authorization: Bearer ****").
std::string traceable_header_line(std::string_view line);

// A proxy as it may be shown: the password of a "user:password@" part becomes "****".
std::string traceable_proxy(std::string_view proxy);

// A URL as it may be shown: the value of an access_token query key becomes "****".
std::string traceable_url(std::string_view url);
