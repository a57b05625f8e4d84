#include "module/curl_global.hpp"

#include <curl/curl.h>

bool curl_global_ready() {
    // Sub-interpreters with their own lock may import at the same moment; a
    // function-local static is initialised exactly once, the others wait.
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    return result == CURLE_OK;
}
