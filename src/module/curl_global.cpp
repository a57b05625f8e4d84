#include "module/curl_global.hpp"

#include <curl/curl.h>
#include <openssl/crypto.h>

bool curl_global_ready() {
    // Sub-interpreters with their own lock may import at the same moment; a
    // function-local static is initialised exactly once, the others wait.
    static const CURLcode result = [] {
        // OpenSSL would free its global state in an exit handler, under daemon
        // threads that are still inside a TLS transfer while the interpreter
        // exits. Asked before libcurl's set-up, which is otherwise OpenSSL's
        // first; when something else set OpenSSL up first, this changes nothing.
        OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
        return curl_global_init(CURL_GLOBAL_DEFAULT);
    }();
    return result == CURLE_OK;
}
