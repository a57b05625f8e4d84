#include "transport/shared_caches.hpp"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <vector>

SharedCaches::SharedCaches(const Trust& trust) : handle_(curl_share_init()), ca_store_(trust), owner_(getpid()) {
    CURLSH* share = handle_.get();
    if (share == nullptr) return;
    const bool ready = curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &SharedCaches::lock) == CURLSHE_OK &&
                       curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &SharedCaches::unlock) == CURLSHE_OK &&
                       curl_share_setopt(share, CURLSHOPT_USERDATA, this) == CURLSHE_OK &&
                       curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) == CURLSHE_OK &&
                       curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) == CURLSHE_OK;
    if (!ready) handle_.reset();
}

SharedCaches::~SharedCaches() {
    // Caches inherited through fork() may have a lock held by a thread the
    // child does not have: they are left as they are, not cleaned up.
    if (owner_ != getpid()) {
        (void)handle_.release();
        ca_store_.abandon();
    }
}

void SharedCaches::lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<SharedCaches*>(self)->locks_[data].lock();
}

void SharedCaches::unlock(CURL*, curl_lock_data data, void* self) {
    static_cast<SharedCaches*>(self)->locks_[data].unlock();
}

namespace {

// The caches of the few most recent trust versions. Each thread holds those it
// uses, so older ones go when their last thread moves on.
class Registry {
public:
    static Registry& instance() {
        // Never destroyed: daemon threads may still ask for caches while the process exits.
        static Registry* const registry = [] {
            auto* made = new Registry;
            // A fork() while another thread holds the lock would leave it held in the child.
            pthread_atfork([] { instance().lock_.lock(); }, [] { instance().lock_.unlock(); },
                           [] { instance().lock_.unlock(); });
            return made;
        }();
        return *registry;
    }

    std::shared_ptr<SharedCaches> caches_for(const TrustVersion& version) {
        const std::lock_guard<std::mutex> held(lock_);
        if (owner_ != getpid()) {  // a forked child makes caches of its own
            recent_.clear();
            owner_ = getpid();
        }
        const auto found = std::find_if(recent_.begin(), recent_.end(),
                                        [&](const auto& entry) { return entry.first == version; });
        if (found != recent_.end()) return found->second;
        auto made = std::make_shared<SharedCaches>(version.trust);
        if (recent_.size() == kKept) recent_.erase(recent_.begin());
        recent_.emplace_back(version, made);
        return made;
    }

private:
    static constexpr std::size_t kKept = 4;
    std::mutex lock_;
    pid_t owner_ = getpid();
    std::vector<std::pair<TrustVersion, std::shared_ptr<SharedCaches>>> recent_;
};

}  // namespace

std::shared_ptr<SharedCaches> shared_caches_for(const TrustVersion& version) {
    return Registry::instance().caches_for(version);
}
