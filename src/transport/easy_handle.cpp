#include "transport/easy_handle.hpp"

#include <unistd.h>

#include "transport/curl_owners.hpp"

namespace {

class ThreadEasyHandle {
public:
    CURL* fresh(const CaFileVersion& ca_file) {
        forget_if_inherited();
        if (!(ca_file == ca_file_)) {
            // libcurl tells CA files apart by name only: a file rewritten in place
            // would keep its old trust store and the connections verified with it.
            handle_.reset();
            ca_file_ = ca_file;
        }
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

    EasyHandle handle_;
    CaFileVersion ca_file_;  // what the handle's connections and CA store were verified with
    pid_t owner_ = getpid();
};

// One per thread, so no handle is ever used by two threads at once; a thread
// that ends cleans its handle up.
thread_local ThreadEasyHandle thread_handle;

}  // namespace

CURL* fresh_thread_easy_handle(const CaFileVersion& ca_file) { return thread_handle.fresh(ca_file); }
