#include "dingtalk/base64.hpp"

#include <openssl/bio.h>
#include <openssl/buffer.h>
#include <openssl/evp.h>

#include <climits>
#include <memory>

namespace {

struct BioFreeAll {
    void operator()(BIO* chain) const noexcept { BIO_free_all(chain); }
};
using BioChain = std::unique_ptr<BIO, BioFreeAll>;

// A Base64 filter pushed on top of `sink`, which the chain then owns (freed
// with it even when the filter cannot be made). Line feeds are switched off:
// the filter would otherwise break its output every 64 characters.
BioChain base64_over(BIO* sink) {
    BioChain bottom(sink);
    if (!bottom) return {};
    BioChain filter(BIO_new(BIO_f_base64()));
    if (!filter) return {};
    BIO_set_flags(filter.get(), BIO_FLAGS_BASE64_NO_NL);
    BIO_push(filter.get(), bottom.release());
    return filter;
}

}  // namespace

std::optional<std::string> Base64Encode(const unsigned char* bytes, std::size_t length) {
    if (length > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
    BioChain chain = base64_over(BIO_new(BIO_s_mem()));
    if (!chain) return std::nullopt;
    if (length > 0 && BIO_write(chain.get(), bytes, static_cast<int>(length)) != static_cast<int>(length)) {
        return std::nullopt;
    }
    // The filter holds back the last, padded group until flushed.
    if (BIO_flush(chain.get()) != 1) return std::nullopt;
    BUF_MEM* written = nullptr;
    BIO_get_mem_ptr(chain.get(), &written);
    if (written == nullptr) return std::nullopt;
    // Copied out, so the chain may free its buffer with everything else.
    return std::string(written->data, written->length);
}

std::optional<std::string> Base64Decode(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
    const std::uint64_t estimate = calcDecodeLength(text);
    // The source only reads `text`; the chain never outlives this call.
    BioChain chain = base64_over(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
    if (!chain) return std::nullopt;
    std::string decoded(estimate, '\0');
    if (estimate == 0) return decoded;  // a read of 0 bytes reports nothing useful
    const int read = BIO_read(chain.get(), decoded.data(), static_cast<int>(estimate));
    if (read < 0) return std::nullopt;
    decoded.resize(static_cast<std::size_t>(read));
    return decoded;
}

std::uint64_t calcDecodeLength(std::string_view text) {
    const std::uint64_t n = text.size();
    std::uint64_t estimate = 3 * n / 4;
    std::uint64_t padding = 0;
    if (n >= 1 && text[n - 1] == '=') padding = (n >= 2 && text[n - 2] == '=') ? 2 : 1;
    return estimate > padding ? estimate - padding : 0;
}
