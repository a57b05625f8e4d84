#include "dingtalk/signing.hpp"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <climits>
#include <cstdlib>
#include <ctime>

#include "common/trace_writer.hpp"
#include "dingtalk/base64.hpp"
#include "transport/percent_encode.hpp"

namespace {

constexpr std::string_view kServiceOrigin = "https://oapi.dingtalk.com";
constexpr std::string_view kSendPath = "/robot/send?access_token=";

// Read at every send, so tests and the local sandbox can point the robot at a
// server of their own ("http://127.0.0.1:8123", scheme and host only).
std::string robot_send_base() {
    const char* origin = std::getenv("QOV_DINGTALK_URL");
    std::string base(origin != nullptr && *origin != '\0' ? std::string_view(origin) : kServiceOrigin);
    base += kSendPath;
    return base;
}

}  // namespace

std::optional<TimedSignature> generate_hmac_bytes(std::string_view secret) {
    if (secret.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;  // HMAC takes an int key length
    const std::time_t now = std::time(nullptr);
    if (now == static_cast<std::time_t>(-1)) return std::nullopt;
    TimedSignature signature{static_cast<std::int64_t>(now) * 1000, {}};
    debug("Timestamp: %lu\n", static_cast<unsigned long>(signature.timestamp));

    std::string signing_text = std::to_string(signature.timestamp);
    signing_text += '\n';
    signing_text += secret;
    unsigned int digest_length = 0;
    if (HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
             reinterpret_cast<const unsigned char*>(signing_text.data()), signing_text.size(),
             signature.digest.data(), &digest_length) == nullptr ||
        digest_length != signature.digest.size()) {
        return std::nullopt;
    }
    return signature;
}

std::optional<std::string> get_signed_url(std::string_view secret, std::string_view token) {
    const std::optional<TimedSignature> signature = generate_hmac_bytes(secret);
    if (!signature) return std::nullopt;

    const std::optional<std::string> base64 = Base64Encode(signature->digest.data(), signature->digest.size());
    if (!base64) return std::nullopt;
    debug("Output (base64): %s\n", base64->c_str());

    // "+", "/" and "=" of the Base64 text would otherwise change meaning in a query.
    const std::optional<std::string> escaped = percent_encoded(*base64);
    if (!escaped) return std::nullopt;
    debug("Encoded: %s\n", escaped->c_str());

    const std::optional<std::string> escaped_token = percent_encoded(token);
    if (!escaped_token) return std::nullopt;

    std::string url = robot_send_base();
    url += *escaped_token;
    url += "&timestamp=";
    url += std::to_string(signature->timestamp);
    url += "&sign=";
    url += *escaped;
    return url;
}
