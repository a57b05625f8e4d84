#include "transport/ratelimit.hpp"

#include <algorithm>

#include "transport/ascii_case.hpp"
#include "transport/retry_after.hpp"
#include "transport/wait_text.hpp"

namespace {

constexpr std::int64_t kNearZeroShare = 100;  // a hundredth of the quota left counts as near zero

// Splits `text` at each `separator` outside double quotes (a backslash escapes
// the next character inside them).
std::vector<std::string_view> split_outside_quotes(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '\\') {
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == separator) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(text.substr(start));
    return parts;
}

std::string item_name(std::string_view text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    std::string name;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) ++i;
        name += text[i];
    }
    return name;
}

}  // namespace

std::vector<QuotaItem> parse_quota_items(std::string_view value) {
    std::vector<QuotaItem> items;
    for (std::string_view member : split_outside_quotes(value, ',')) {
        const std::vector<std::string_view> parts = split_outside_quotes(trim_blanks(member), ';');
        QuotaItem item{item_name(trim_blanks(parts.front())), {}, {}, {}};
        for (std::size_t i = 1; i < parts.size(); ++i) {
            const std::string_view parameter = trim_blanks(parts[i]);
            const std::size_t equals = parameter.find('=');
            if (equals == std::string_view::npos) continue;
            const std::string_view key = trim_blanks(parameter.substr(0, equals));
            const std::optional<std::int64_t> number =
                saturated_count(trim_blanks(parameter.substr(equals + 1)), kLongestWaitSeconds);
            if (key == "r") item.remaining = number;
            if (key == "t") item.reset = number;
            if (key == "q") item.quota = number;
        }
        if (!item.name.empty() || item.remaining || item.reset || item.quota) items.push_back(std::move(item));
    }
    return items;
}

std::optional<QuotaHold> quota_backoff(const std::optional<std::string>& ratelimit,
                                       const std::optional<std::string>& policy,
                                       std::chrono::milliseconds longest_wait) {
    if (!ratelimit) return std::nullopt;
    const std::vector<QuotaItem> policies = policy ? parse_quota_items(*policy) : std::vector<QuotaItem>{};
    std::optional<QuotaHold> hold;
    for (const QuotaItem& item : parse_quota_items(*ratelimit)) {
        if (!item.remaining || !item.reset || *item.reset == 0) continue;
        std::int64_t near_zero = 1;
        for (const QuotaItem& named : policies) {
            if (named.name == item.name && named.quota) near_zero = std::max<std::int64_t>(1, *named.quota / kNearZeroShare);
        }
        if (*item.remaining > near_zero) continue;
        // Clamped before it is converted: t is at most kLongestWaitSeconds here.
        const std::chrono::milliseconds wait =
            std::min<std::chrono::milliseconds>(std::chrono::seconds{*item.reset}, longest_wait);
        if (!hold || wait > hold->wait) hold = QuotaHold{wait, *item.remaining};
    }
    return hold;
}

std::string quota_trace_line(std::chrono::nanoseconds wait, std::int64_t remaining) {
    return "ratelimit: waiting " + wait_text(wait) + " (" + std::to_string(remaining) +
           (remaining == 1 ? " request" : " requests") + " left)\n";
}
