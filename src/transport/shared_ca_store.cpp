#include "transport/shared_ca_store.hpp"

#include <openssl/err.h>

X509Store load_ca_store(const Trust& trust) {
    X509Store store(X509_STORE_new());
    if (!store) return nullptr;
    // What fails here is reported by the status; the thread's OpenSSL error
    // queue is left as it was, for libcurl to read its own errors from.
    ERR_set_mark();
    const bool loaded = (trust.ca_file.empty() || X509_STORE_load_file(store.get(), trust.ca_file.c_str()) == 1) &&
                        (trust.ca_directory.empty() ||
                         X509_STORE_load_path(store.get(), trust.ca_directory.c_str()) == 1);
    ERR_pop_to_mark();
    if (!loaded) return nullptr;
    // Issuers from the store are tried before those the server sends, and a
    // trusted intermediate ends a chain, as in the stores libcurl loads.
    X509_STORE_set_flags(store.get(), X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
    return store;
}

X509_STORE* SharedCaStore::get() {
    const std::lock_guard<std::mutex> held(lock_);
    if (!loaded_) {
        store_ = load_ca_store(trust_);
        loaded_ = true;
    }
    return store_.get();
}
