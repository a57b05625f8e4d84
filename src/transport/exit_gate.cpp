#include "transport/exit_gate.hpp"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>

namespace {

// How deeply this thread is inside a gate: a signal handler may make a
// request while the thread's own transfer waits.
thread_local int depth = 0;

// The process is ending: the thread waits for that, taking no signal.
[[noreturn]] void stop_for_good() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    for (;;) pause();
}

}  // namespace

void ExitGate::enter() {
    if (depth++ > 0) return;
    std::unique_lock<std::mutex> held(lock_);
    if (closed_) {
        held.unlock();
        stop_for_good();
    }
    ++inside_;
}

void ExitGate::leave() {
    if (--depth > 0) return;
    std::unique_lock<std::mutex> held(lock_);
    --inside_;
    if (!closed_) return;
    // Python has been finalised by now: a thread going back to it would use
    // freed interpreter state.
    left_.notify_all();
    held.unlock();
    stop_for_good();
}

void ExitGate::stop_if_closed() {
    std::unique_lock<std::mutex> held(lock_);
    if (closed_) stop_counted_out(held);
}

void ExitGate::watch(CURLM* multi) {
    std::unique_lock<std::mutex> held(lock_);
    if (closed_) stop_counted_out(held);
    watched_.push_back(multi);
}

void ExitGate::stop_counted_out(std::unique_lock<std::mutex>& held) {
    if (depth > 0) --inside_;
    left_.notify_all();
    held.unlock();
    stop_for_good();
}

void ExitGate::unwatch(CURLM* multi) {
    const std::lock_guard<std::mutex> held(lock_);
    const auto found = std::find(watched_.begin(), watched_.end(), multi);
    if (found != watched_.end()) watched_.erase(found);
}

bool ExitGate::close(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> held(lock_);
    closed_ = true;
    // Watched handles stay valid while they are listed: unwatch() needs the lock.
    for (CURLM* multi : watched_) curl_multi_wakeup(multi);
    const int own = depth > 0 ? 1 : 0;  // a thread that exits from inside a transfer
    return left_.wait_for(held, bound, [&] { return inside_ <= own; });
}

void ExitGate::before_fork() { lock_.lock(); }

void ExitGate::after_fork_in_parent() { lock_.unlock(); }

void ExitGate::after_fork_in_child() {
    inside_ = depth > 0 ? 1 : 0;
    watched_.clear();
    lock_.unlock();
}

ExitGate& library_gate() {
    // Never destroyed: it is used at exit, and by threads that outlive main().
    static ExitGate* const gate = [] {
        auto* made = new ExitGate;
        pthread_atfork([] { library_gate().before_fork(); }, [] { library_gate().after_fork_in_parent(); },
                       [] { library_gate().after_fork_in_child(); });
        return made;
    }();
    return *gate;
}

void close_library_gate() { library_gate().close(std::chrono::seconds{2}); }
