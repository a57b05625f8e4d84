#include "module/curl_global.hpp"

#include <curl/curl.h>
#include <openssl/crypto.h>

#include <cstdlib>

#include "transport/exit_gate.hpp"

bool curl_global_ready() {
    // Sub-interpreters with their own lock may import at the same moment; a
    // function-local static is initialised exactly once, the others wait.
    static const CURLcode result = [] {
        // OpenSSL would free its global state in an exit handler, under daemon
        // threads that are still inside a TLS transfer while the interpreter
        // exits. Asked before libcurl's set-up, which is otherwise OpenSSL's
        // first; when something else set OpenSSL up first (ssl, hashlib), its
        // handler is registered already, and ours, registered after it, runs
        // before it (exit handlers run in reverse order): it keeps our threads
        // out of libcurl and OpenSSL from then on.
        OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
        std::atexit(close_library_gate);
        return curl_global_init(CURL_GLOBAL_DEFAULT);
    }();
    return result == CURLE_OK;
}
