// Pacing of robot messages within the process: the robot refuses more than
// its quota of messages a minute (errcode 130101) and then blocks for
// minutes, so sends wait for their turn instead. Python-free; the caller
// waits with the interpreter lock released.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

class SendPacer {
public:
    using Clock = std::chrono::steady_clock;

    explicit SendPacer(Clock::duration window = std::chrono::seconds{60});

    // How long a send for `token` must wait, at `now`, so that the token makes
    // at most `per_minute` sends in any window. Zero: the send may go now, and
    // it is counted at `now`. Positive: nothing is counted; ask again after
    // the wait (another thread may have taken the turn meanwhile).
    // `per_minute` 0 or less: no pacing, nothing counted.
    Clock::duration reserve(const std::string& token, int per_minute, Clock::time_point now);

    // Moves a send counted at `counted_at` to `now`, when it went out (or was
    // given up): the robot counts a message when it arrives, which may be well
    // after its turn came. Counts `now` when that send has left the window.
    void went_out(const std::string& token, Clock::time_point counted_at, Clock::time_point now);

    // Tokens with sends still in the window (idle ones are dropped as time passes).
    std::size_t tokens_tracked() const;

private:
    void drop_idle_tokens(Clock::time_point now);

    const Clock::duration window_;
    mutable std::mutex mutex_;
    std::unordered_map<std::string, std::deque<Clock::time_point>> sent_;  // oldest first, within the window
    Clock::time_point last_sweep_{};
};

// The one pacer of the process: instances that share a token share its pace.
SendPacer& robot_send_pacer();

// The trace line written before a paced send waits, line feed included:
// "pacing: waiting 2.5 s (20 a minute per robot)\n".
std::string pacing_trace_line(SendPacer::Clock::duration wait, int per_minute);
