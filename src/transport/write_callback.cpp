#include "transport/write_callback.hpp"

#include <cstdio>
#include <new>
#include <stdexcept>

size_t write_callback(char* bytes, size_t size, size_t count, void* buffer) {
    const size_t n = size * count;
    try {
        static_cast<ResponseBuffer*>(buffer)->data.append(bytes, n);
    } catch (const std::exception&) {  // bad_alloc, or length_error past the largest string
        std::fputs("realloc() failed\n", stderr);
        return 0;
    }
    return n;
}
