// Keeps the module's threads out of libcurl and OpenSSL while the process
// exits. OpenSSL frees its global state in an exit handler when whoever set it
// up first asked for one (Python's ssl and hashlib do); a thread still inside
// a handshake, or cleaning its handles up at thread exit, would then use freed
// state. The process's gate is closed by an exit handler of ours that runs
// before OpenSSL's: from then on a thread that would go on in the libraries
// stops for good instead, and the handler waits, bounded, for those inside to
// leave.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

class ExitGate {
public:
    // Count this thread in (once, however deeply nested) and out again. Once
    // the gate is closed, both stop the thread for good instead of returning.
    void enter();
    void leave();

    // Stops this thread for good, counted out, when the gate is closed: for
    // the places between two calls into libcurl.
    void stop_if_closed();

    // A multi handle whose waits the closing wakes (curl_multi_wakeup).
    // Watching stops the thread when the gate is closed already.
    void watch(CURLM* multi);
    void unwatch(CURLM* multi);

    // Stops new entries, wakes the watched waits and waits up to `bound` for
    // the threads inside to leave or stop. True when they all did.
    bool close(std::chrono::milliseconds bound);

    // Around fork(): the child has only the forking thread, which is outside
    // unless a signal handler forked during a transfer.
    void before_fork();
    void after_fork_in_parent();
    void after_fork_in_child();

private:
    [[noreturn]] void stop_counted_out(std::unique_lock<std::mutex>& held);

    std::mutex lock_;
    std::condition_variable left_;
    bool closed_ = false;
    int inside_ = 0;  // threads counted in
    std::vector<CURLM*> watched_;
};

// The process's gate, closed by close_library_gate() at exit.
ExitGate& library_gate();

// Closes the process's gate, waiting at most two seconds: the exit handler.
void close_library_gate();

// Holds this thread inside the process's gate for its lifetime.
class InsideLibrary {
public:
    InsideLibrary() { library_gate().enter(); }
    ~InsideLibrary() { library_gate().leave(); }
    InsideLibrary(const InsideLibrary&) = delete;
    InsideLibrary& operator=(const InsideLibrary&) = delete;
};
