// Standard Base64 (with "=" padding) through OpenSSL BIO chains, written as one
// unbroken line. Needs neither the interpreter nor libcurl.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The Base64 text of `length` bytes: 4 * ceil(length / 3) characters, no line
// feed anywhere. nullopt when the chain could not be built or did not take the
// whole input (OpenSSL counts in int, so 2^31 bytes or more never encode).
std::optional<std::string> Base64Encode(const unsigned char* bytes, std::size_t length);

// The decoded bytes of `text` (size() is the count read; the string's own
// terminator makes decoded text readable as a C string). A malformed text
// shows as a shorter result. nullopt when the chain could not be built or the
// read failed outright.
std::optional<std::string> Base64Decode(std::string_view text);

// floor(3n / 4) for a text of n characters, less one per trailing "=" (at most
// two), and never below 0.
std::uint64_t calcDecodeLength(std::string_view text);
