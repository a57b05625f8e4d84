#include "transport/thread_handles.hpp"

#include <openssl/crypto.h>
#include <unistd.h>

#include "transport/exit_gate.hpp"

namespace {

// Makes `handles` ready for a request trusting `version`.
void prepare(TransferHandles& handles, const TrustVersion& version) {
    if (!(handles.version == version)) handles.clear();
    if (handles.easy) {
        curl_easy_reset(handles.easy.get());
    } else {
        handles.clear();
        handles.caches = shared_caches_for(version);
        handles.multi.reset(curl_multi_init());
        if (handles.multi) handles.easy.reset(curl_easy_init());
        handles.version = version;
    }
    // Set again after every reset, which leaves libcurl's view of the share's
    // session cache sized for its own.
    if (handles.easy && handles.caches && handles.caches->handle()) {
        curl_easy_setopt(handles.easy.get(), CURLOPT_SHARE, handles.caches->handle());
    }
}

class ThreadHandles {
public:
    TransferHandles& current() {
        forget_if_inherited();
        return handles_;
    }

    bool busy = false;

    // Runs at thread exit, counted inside the exit gate so that the process's
    // exit waits for it; once the process exits, the thread stops here instead.
    // OpenSSL's own per-thread clean-up is done here too: it would otherwise
    // run after this, outside the gate.
    ~ThreadHandles() {
        const InsideLibrary inside;
        forget_if_inherited();
        handles_.clear();
        OPENSSL_thread_stop();
    }

private:
    // Handles inherited through fork() share their sockets and TLS state with
    // the parent: the child must neither use them nor shut their connections
    // down, so they are dropped without cleanup.
    void forget_if_inherited() noexcept {
        const pid_t pid = getpid();
        if (owner_ != pid) {
            (void)handles_.easy.release();
            (void)handles_.multi.release();
            handles_.caches.reset();  // inherited caches leave themselves alone
            handles_.version = {};
            owner_ = pid;
        }
    }

    TransferHandles handles_;
    pid_t owner_ = getpid();
};

thread_local ThreadHandles thread_handles;

}  // namespace

void TransferHandles::clear() noexcept {
    easy.reset();
    multi.reset();
    caches.reset();
}

HandleLease::HandleLease(const TrustVersion& version) {
    if (thread_handles.busy) {
        own_ = std::make_unique<TransferHandles>();
        handles_ = own_.get();
    } else {
        handles_ = &thread_handles.current();
        thread_handles.busy = leased_thread_handles_ = true;
    }
    prepare(*handles_, version);
}

HandleLease::~HandleLease() {
    if (leased_thread_handles_) thread_handles.busy = false;
}
