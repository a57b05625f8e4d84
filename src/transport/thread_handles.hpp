// The libcurl handles a request runs on. Each thread keeps its own easy and
// multi handle between calls, so its connections, and the TLS sessions and CA
// store loaded with them, serve its next request; no handle is ever used by
// two threads at once, and a thread that ends cleans its handles up.
#pragma once

#include <curl/curl.h>

#include <memory>

#include "transport/curl_owners.hpp"
#include "transport/shared_caches.hpp"
#include "transport/trust_on_disk.hpp"

struct TransferHandles {
    std::shared_ptr<SharedCaches> caches;  // first: outlives the handles attached to it
    MultiHandle multi;                     // holds the connections
    EasyHandle easy;
    TrustVersion version;  // what the connections, sessions and CA store were verified with

    // Drops the handles, the easy one before the multi one it used.
    void clear() noexcept;
};

// This thread's handles for one request, the easy one reset to libcurl's
// defaults and attached to the shared caches; handles that trusted another
// version than `version` are replaced first. A call made while this thread's
// handles are busy (from a signal handler that runs during a transfer) gets a
// set of its own for the one request.
class HandleLease {
public:
    explicit HandleLease(const TrustVersion& version);
    ~HandleLease();
    HandleLease(const HandleLease&) = delete;
    HandleLease& operator=(const HandleLease&) = delete;

    // Null when libcurl could not make them.
    CURL* easy() const noexcept { return handles_->easy.get(); }
    CURLM* multi() const noexcept { return handles_->multi.get(); }
    // Null when libcurl could not make them either.
    SharedCaches* caches() const noexcept { return handles_->caches.get(); }

private:
    TransferHandles* handles_;
    std::unique_ptr<TransferHandles> own_;  // the one-off set of a nested call
    bool leased_thread_handles_ = false;
};
