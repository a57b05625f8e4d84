#pragma once

#include <cstddef>
#include <string>

// The most bytes of a response body kept for one call: a server that announces
// more is refused at its headers, one that sends more is cut off.
inline constexpr std::size_t kMaxResponseBytes = std::size_t{64} << 20;  // 64 MiB

// The bytes received for one call.
struct ResponseBuffer {
    std::string data;
    std::size_t limit = kMaxResponseBytes;
    bool too_large = false;  // the transfer was ended because the body passed `limit`
};

// libcurl's write function: appends the chunk, or returns 0 (libcurl's write
// error) when the body would pass the buffer's limit (too_large is then set)
// or the buffer cannot grow.
size_t write_callback(char* bytes, size_t size, size_t count, void* buffer);
