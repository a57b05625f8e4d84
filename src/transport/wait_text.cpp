#include "transport/wait_text.hpp"

#include <algorithm>
#include <cstdint>

std::string wait_text(std::chrono::nanoseconds wait) {
    const auto tenths = (std::max<std::int64_t>(wait.count(), 0) + 50'000'000) / 100'000'000;
    std::string text = std::to_string(tenths / 10);
    if (tenths % 10 != 0) {
        text += '.';
        text += std::to_string(tenths % 10);
    }
    text += " s";
    return text;
}
