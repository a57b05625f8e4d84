#include "transport/transfer_loop.hpp"

#include <chrono>

#include "transport/exit_gate.hpp"

namespace {

CURLcode easy_code(CURLMcode code) {
    return code == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT;
}

// Takes the easy handle off the multi handle on every way out, finished or not;
// an unfinished transfer's connection is closed rather than kept.
class Attached {
public:
    Attached(CURLM* multi, CURL* easy) : multi_(multi), easy_(easy), code_(curl_multi_add_handle(multi, easy)) {}
    ~Attached() {
        if (code_ == CURLM_OK) curl_multi_remove_handle(multi_, easy_);
    }
    Attached(const Attached&) = delete;
    Attached& operator=(const Attached&) = delete;
    CURLMcode code() const noexcept { return code_; }

private:
    CURLM* multi_;
    CURL* easy_;
    CURLMcode code_;
};

// Lets the closing of the exit gate wake this transfer's waits, on every way out.
class Watched {
public:
    explicit Watched(CURLM* multi) : multi_(multi) { library_gate().watch(multi); }
    ~Watched() { library_gate().unwatch(multi_); }
    Watched(const Watched&) = delete;
    Watched& operator=(const Watched&) = delete;

private:
    CURLM* multi_;
};

// The result of `easy`'s finished transfer.
CURLcode finished_code(CURLM* multi, CURL* easy) {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy) return message->data.result;
    }
    return CURLE_FAILED_INIT;  // libcurl always reports a transfer it ran
}

}  // namespace

TransferOutcome run_transfer(CURLM* multi, CURL* easy, const InterruptCheck& interrupted) {
    const Attached attached(multi, easy);
    if (attached.code() != CURLM_OK) return {easy_code(attached.code())};
    const Watched watched(multi);
    // libcurl shortens a wait to its next timer (the time-out among them).
    const int wait_milliseconds = interrupted ? kInterruptCheckMilliseconds : 1000;
    // The check costs the caller a round of its lock: once per period is enough,
    // so a request that is answered at once never pays for it.
    const auto period = std::chrono::milliseconds(kInterruptCheckMilliseconds);
    auto next_check = std::chrono::steady_clock::now() + period;
    for (;;) {
        int running = 0;
        if (const CURLMcode code = curl_multi_perform(multi, &running); code != CURLM_OK) return {easy_code(code)};
        if (running == 0) return {finished_code(multi, easy)};
        // Returns early when a socket is ready, libcurl's next timer is due, or a
        // signal arrives at this thread.
        if (const CURLMcode code = curl_multi_poll(multi, nullptr, 0, wait_milliseconds, nullptr); code != CURLM_OK) {
            return {easy_code(code)};
        }
        // Once the process exits, a handshake must not go on under OpenSSL's clean-up.
        library_gate().stop_if_closed();
        if (interrupted && std::chrono::steady_clock::now() >= next_check) {
            if (interrupted()) return {CURLE_ABORTED_BY_CALLBACK, true};
            next_check = std::chrono::steady_clock::now() + period;
        }
    }
}
