#include "dingtalk/pacing.hpp"

#include <algorithm>

#include "transport/wait_text.hpp"

SendPacer::SendPacer(Clock::duration window) : window_(window) {}

SendPacer::Clock::duration SendPacer::reserve(const std::string& token, int per_minute, Clock::time_point now) {
    if (per_minute <= 0) return Clock::duration::zero();
    const std::lock_guard<std::mutex> lock(mutex_);
    drop_idle_tokens(now);
    std::deque<Clock::time_point>& sent = sent_[token];
    while (!sent.empty() && sent.front() <= now - window_) sent.pop_front();
    const auto quota = static_cast<std::size_t>(per_minute);
    if (sent.size() < quota) {
        sent.push_back(now);
        return Clock::duration::zero();
    }
    // The send may go once all but quota - 1 of the counted sends have left the window.
    return sent[sent.size() - quota] + window_ - now;
}

void SendPacer::went_out(const std::string& token, Clock::time_point counted_at, Clock::time_point now) {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::deque<Clock::time_point>& sent = sent_[token];
    if (const auto counted = std::find(sent.begin(), sent.end(), counted_at); counted != sent.end()) sent.erase(counted);
    // Sends of several threads may go out in another order than they were counted.
    sent.insert(std::upper_bound(sent.begin(), sent.end(), now), now);
}

std::size_t SendPacer::tokens_tracked() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return sent_.size();
}

// A sweep at most once a window keeps the map to the tokens of about the last
// two windows without scanning it on every send.
void SendPacer::drop_idle_tokens(Clock::time_point now) {
    if (now - last_sweep_ < window_) return;
    last_sweep_ = now;
    std::erase_if(sent_, [&](const auto& entry) { return entry.second.empty() || entry.second.back() <= now - window_; });
}

SendPacer& robot_send_pacer() {
    // Never destroyed: daemon threads may still be pacing while the process exits.
    static SendPacer& pacer = *new SendPacer();
    return pacer;
}

std::string pacing_trace_line(SendPacer::Clock::duration wait, int per_minute) {
    return "pacing: waiting " + wait_text(wait) + " (" + std::to_string(per_minute) + " a minute per robot)\n";
}
