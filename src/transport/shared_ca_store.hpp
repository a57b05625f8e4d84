// The CA certificates a trust names, loaded into one OpenSSL store that the
// connections of every thread verify with. libcurl would load them into a
// store per thread (its cache of stores lives in each multi handle): a bundle
// would then be parsed again by every new thread, some 20 ms each.
#pragma once

#include <openssl/x509_vfy.h>

#include <memory>
#include <mutex>
#include <utility>

#include "transport/trust_sources.hpp"

struct X509StoreFree {
    void operator()(X509_STORE* store) const noexcept { X509_STORE_free(store); }
};
using X509Store = std::unique_ptr<X509_STORE, X509StoreFree>;

// A store holding what `trust` names, with the verification flags libcurl sets
// on the stores it loads itself; null when the trust names a file that cannot
// be loaded (libcurl's status 77 then, as when it loads the file itself).
X509Store load_ca_store(const Trust& trust);

class SharedCaStore {
public:
    explicit SharedCaStore(Trust trust) : trust_(std::move(trust)) {}
    SharedCaStore(const SharedCaStore&) = delete;
    SharedCaStore& operator=(const SharedCaStore&) = delete;

    // Loaded by the first connection that needs it; null as for load_ca_store.
    // A store that failed to load is not tried again: a file that changes gets
    // a trust version, and so a store, of its own.
    X509_STORE* get();

    // Lets go of the store without freeing it: one inherited through fork()
    // may have a lock held by a thread the child does not have.
    void abandon() noexcept { (void)store_.release(); }

private:
    const Trust trust_;
    std::mutex lock_;
    bool loaded_ = false;
    X509Store store_;
};
