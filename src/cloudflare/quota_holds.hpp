// Waits the service's quota headers asked for, kept per API token within the
// process: the next request of any thread with that token waits them out.
// Python-free; the caller waits with the interpreter lock released.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

class QuotaHolds {
public:
    using Clock = std::chrono::steady_clock;

    struct Hold {
        Clock::duration wait{};
        std::int64_t remaining = 0;  // the count the answer left, for the trace
    };

    // Holds `token`'s requests until `until`; a later hold already kept stands.
    void hold(const std::string& token, Clock::time_point until, std::int64_t remaining);

    // What is left at `now` of the token's hold; empty when there is none.
    std::optional<Hold> pending(const std::string& token, Clock::time_point now);

    // Tokens with a hold kept (ended ones are dropped as they are seen).
    std::size_t tokens_held() const;

private:
    struct Until {
        Clock::time_point when;
        std::int64_t remaining;
    };
    mutable std::mutex mutex_;
    std::unordered_map<std::string, Until> holds_;
};

// The one table of the process: instances that share a token share its holds.
QuotaHolds& token_quota_holds();
