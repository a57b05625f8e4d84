#include "cloudflare/quota_holds.hpp"

#include <algorithm>

void QuotaHolds::hold(const std::string& token, Clock::time_point until, std::int64_t remaining) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto [kept, added] = holds_.try_emplace(token, Until{until, remaining});
    if (!added && kept->second.when < until) kept->second = Until{until, remaining};
}

std::optional<QuotaHolds::Hold> QuotaHolds::pending(const std::string& token, Clock::time_point now) {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(holds_, [now](const auto& entry) { return entry.second.when <= now; });
    const auto found = holds_.find(token);
    if (found == holds_.end()) return std::nullopt;
    return Hold{found->second.when - now, found->second.remaining};
}

std::size_t QuotaHolds::tokens_held() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return holds_.size();
}

QuotaHolds& token_quota_holds() {
    // Never destroyed: daemon threads may still be waiting while the process exits.
    static QuotaHolds& holds = *new QuotaHolds();
    return holds;
}
