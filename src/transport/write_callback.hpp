#pragma once

#include <cstddef>
#include <string>

// The bytes received for one call.
struct ResponseBuffer {
    std::string data;
};

// libcurl's write function: appends the chunk, or returns 0 (libcurl's write
// error) when the buffer cannot grow.
size_t write_callback(char* bytes, size_t size, size_t count, void* buffer);
