// TLS sessions, DNS answers and the CA store shared by the threads of a
// process: sessions and answers through a libcurl share handle, so that a new
// thread's first call to a host resumes a TLS session another thread made
// instead of a full handshake; the store through the TLS context libcurl
// makes for each connection. Connections are not shared: each thread keeps
// its own (libcurl's shared connection cache is not safe between concurrent
// threads, and a thread's own connections are what lets a forked child leave
// its parent's alone).
#pragma once

#include <curl/curl.h>

#include <array>
#include <memory>
#include <mutex>

#include "transport/curl_owners.hpp"
#include "transport/shared_ca_store.hpp"
#include "transport/trust_on_disk.hpp"

class SharedCaches {
public:
    explicit SharedCaches(const Trust& trust);
    ~SharedCaches();
    SharedCaches(const SharedCaches&) = delete;
    SharedCaches& operator=(const SharedCaches&) = delete;

    // Null when libcurl could not make the share handle: requests then go without.
    CURLSH* handle() const noexcept { return handle_.get(); }
    SharedCaStore& ca_store() noexcept { return ca_store_; }

private:
    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self);
    static void unlock(CURL*, curl_lock_data data, void* self);

    std::array<std::mutex, CURL_LOCK_DATA_LAST> locks_;  // one per kind of shared data
    ShareHandle handle_;
    SharedCaStore ca_store_;
    pid_t owner_;
};

// The caches of every thread that trusts `version`. A session is resumed
// without the server's certificate being verified again, so it may only serve
// a request that trusts what verified it: each trust version has caches of
// its own.
std::shared_ptr<SharedCaches> shared_caches_for(const TrustVersion& version);
