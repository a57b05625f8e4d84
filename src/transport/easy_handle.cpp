#include "transport/easy_handle.hpp"

#include <unistd.h>

#include <memory>

namespace {

struct EasyCleanup {
    void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};

class ThreadEasyHandle {
public:
    CURL* fresh() {
        forget_if_inherited();
        if (handle_) {
            curl_easy_reset(handle_.get());
        } else {
            handle_.reset(curl_easy_init());
        }
        return handle_.get();
    }

    ~ThreadEasyHandle() { forget_if_inherited(); }

private:
    // A handle inherited through fork() shares its sockets and TLS state with
    // the parent: the child must neither use it nor shut its connections down,
    // so it is dropped without cleanup.
    void forget_if_inherited() noexcept {
        const pid_t pid = getpid();
        if (owner_ != pid) {
            (void)handle_.release();
            owner_ = pid;
        }
    }

    std::unique_ptr<CURL, EasyCleanup> handle_;
    pid_t owner_ = getpid();
};

// One per thread, so no handle is ever used by two threads at once; a thread
// that ends cleans its handle up.
thread_local ThreadEasyHandle thread_handle;

}  // namespace

CURL* fresh_thread_easy_handle() { return thread_handle.fresh(); }
