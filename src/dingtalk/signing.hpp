// Signed robot-send URLs: a millisecond timestamp and its HMAC-SHA256 under the
// robot's secret, in Base64, escaped for the query string.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

using HmacDigest = std::array<unsigned char, 32>;

struct TimedSignature {
    std::int64_t timestamp;  // milliseconds since the epoch, whole seconds * 1000
    HmacDigest digest;       // HMAC-SHA256 of "<timestamp>\n<secret>", keyed with the secret
};

// Takes the time, prints the "Timestamp: " line and signs it. nullopt when the
// clock or the HMAC fails.
std::optional<TimedSignature> generate_hmac_bytes(std::string_view secret);

// "<base>/robot/send?access_token=<token>&timestamp=<ms>&sign=<escaped Base64>",
// printing the three signing lines on the way. The token is percent-encoded,
// so a "&" or "#" in it cannot change the query. nullopt when any step fails:
// never a URL with a wrong signature.
std::optional<std::string> get_signed_url(std::string_view secret, std::string_view token);
