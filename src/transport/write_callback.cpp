#include "transport/write_callback.hpp"

#include <algorithm>
#include <cstdio>
#include <new>
#include <stdexcept>

size_t write_callback(char* bytes, size_t size, size_t count, void* buffer) {
    ResponseBuffer& response = *static_cast<ResponseBuffer*>(buffer);
    const size_t n = size * count;  // libcurl never hands over more than CURL_MAX_WRITE_SIZE at once
    std::string& data = response.data;
    if (n > response.limit - data.size()) {
        response.too_large = true;
        return 0;
    }
    try {
        if (data.size() + n > data.capacity()) {
            // Doubling, but never past the limit, which the string's own growth
            // (and reserve, which rounds up to twice the old capacity) would pass.
            // An empty string reserves exactly what it is asked for (past its
            // small-string room).
            std::string grown;
            grown.reserve(std::min(std::max(data.capacity() * 2, data.size() + n), response.limit));
            grown.append(data);
            data.swap(grown);
        }
        data.append(bytes, n);
    } catch (const std::exception&) {  // bad_alloc, or length_error past the largest string
        std::fputs("realloc() failed\n", stderr);
        return 0;
    }
    return n;
}
