#include "transport/http_request.hpp"

#include <curl/curl.h>
#include <openssl/ssl.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "transport/curl_owners.hpp"
#include "transport/exit_gate.hpp"
#include "transport/strlwr.hpp"
#include "transport/thread_handles.hpp"
#include "transport/trace.hpp"
#include "transport/trust_on_disk.hpp"
#include "transport/write_callback.hpp"

namespace {

constexpr long kMaxRedirects = 10;
constexpr const char* kAllowedProtocols = "http,https";

HttpResult failed(std::int32_t code, std::string text) {
    HttpResult result;
    result.failure = code;
    result.body = std::move(text);
    return result;
}

HttpResult failure(CURLcode code) { return failed(static_cast<std::int32_t>(code), curl_easy_strerror(code)); }

// The values of every `name` header of the final answer (not of a redirect or
// a "100 Continue"), the first only or all joined with ", ".
std::optional<std::string> answer_header(CURL* curl, const char* name, bool all) {
    std::optional<std::string> joined;
    curl_header* header = nullptr;
    for (std::size_t index = 0;
         curl_easy_header(curl, name, index, CURLH_HEADER, -1, &header) == CURLHE_OK && header != nullptr; ++index) {
        if (joined) {
            *joined += ", ";
            *joined += header->value;
        } else {
            joined = header->value;
        }
        if (!all || index + 1 >= header->amount) break;
    }
    return joined;
}

std::optional<std::string> non_empty_variable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    return std::string(value);
}

// Points libcurl at the body to send. The string outlives the transfer, and
// POSTFIELDS does not copy. Without a body an empty one is sent.
void send_body(CURL* curl, const std::optional<std::string>& body) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body ? body->c_str() : "");
}

void choose_request_form(CURL* curl, const std::string& lowered, const std::string& method_text,
                         const std::optional<std::string>& body) {
    if (lowered == "get") {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    } else if (lowered == "post") {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        send_body(curl, body);
    } else if (lowered == "put") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "PUT");
        send_body(curl, body);
    } else if (lowered == "delete") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "DELETE");
    } else {
        // Any other method goes out in the caller's letter case, with the body.
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method_text.c_str());
        send_body(curl, body);
    }
}

// Gives the TLS context libcurl made for a connection the store that every
// thread trusting the same shares, as the store the server is verified with.
// The context's own store stays its own: libcurl sets verification flags on
// that one once the handshake has begun, without a lock, which on a store
// other threads verify with would be a data race. The shared store has its
// flags from when it was built.
CURLcode use_shared_ca_store(CURL*, void* ssl_ctx, void* shared) noexcept {
    X509_STORE* store = static_cast<SharedCaStore*>(shared)->get();
    if (store == nullptr) return CURLE_SSL_CACERT_BADFILE;
    return SSL_CTX_set1_verify_cert_store(static_cast<SSL_CTX*>(ssl_ctx), store) == 1 ? CURLE_OK
                                                                                       : CURLE_OUT_OF_MEMORY;
}

// Names exactly the chosen sources: after a reset libcurl would also load its
// compiled-in CA file and directory, which is the cost of a cold start. The
// shared store holds them, so libcurl itself is given none to load; where it
// cannot take the store, it loads them itself.
void set_trust(CURL* curl, const Trust& trust, SharedCaches* caches) {
    if (trust.source == TrustSource::libcurl_default) return;
    const bool shared = caches != nullptr &&
                        curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, use_shared_ca_store) == CURLE_OK &&
                        curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, &caches->ca_store()) == CURLE_OK;
    if (shared) {
        curl_easy_setopt(curl, CURLOPT_CAINFO, nullptr);
        curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
        return;
    }
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, nullptr);
    curl_easy_setopt(curl, CURLOPT_CAINFO, trust.ca_file.empty() ? nullptr : trust.ca_file.c_str());
    curl_easy_setopt(curl, CURLOPT_CAPATH, trust.ca_directory.empty() ? nullptr : trust.ca_directory.c_str());
}

// 0 is libcurl's "no limit".
long timeout_milliseconds(double seconds) {
    if (seconds <= 0) return 0;
    const double milliseconds = std::ceil(seconds * 1000);
    return milliseconds >= 1 ? static_cast<long>(std::fmin(milliseconds, 86'400'000)) : 1;
}

}  // namespace

RequestEnvironment read_request_environment() {
    RequestEnvironment environment;
    if (const char* value = std::getenv("http_proxy"); value != nullptr) environment.http_proxy = value;
    environment.trust.curl_ca_bundle = non_empty_variable("CURL_CA_BUNDLE");
    environment.trust.ssl_cert_file = non_empty_variable("SSL_CERT_FILE");
    environment.trust.ssl_cert_dir = non_empty_variable("SSL_CERT_DIR");
    return environment;
}

std::vector<std::string> request_trace_lines(const HttpRequest& request) {
    std::vector<std::string> lines;
    for (const std::string& line : request.header_lines) lines.push_back(traceable_header_line(line) + '\n');
    if (const std::optional<std::string>& env_proxy = request.environment.http_proxy) {
        lines.push_back("proxy: " + traceable_proxy(*env_proxy) + '\n');
    }
    if (request.proxy) lines.push_back("user_proxy: " + traceable_proxy(*request.proxy) + '\n');
    std::string lowered = request.method;
    strlwr(lowered);
    lines.push_back("http_method: " + lowered + " url: " + traceable_url(request.url) + '\n');
    return lines;
}

HttpResult http_request(const HttpRequest& request, const InterruptCheck& interrupted) {
    const InsideLibrary inside;  // first: every libcurl call below is made inside
    HeaderList headers;
    for (const std::string& line : request.header_lines) {
        curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
        if (grown == nullptr) return failure(CURLE_OUT_OF_MEMORY);  // the old list is intact and still owned
        (void)headers.release();
        headers.reset(grown);
    }

    // The system's places are looked for only when no variable names the trust.
    const TrustVariables& variables = request.environment.trust;
    const bool named = variables.curl_ca_bundle || variables.ssl_cert_file || variables.ssl_cert_dir;
    const Trust trust = choose_trust(variables, named ? SystemTrust{} : system_trust());
    const HandleLease handles(trust_version(trust));
    CURL* curl = handles.easy();
    if (curl == nullptr) return failed(-1, "curl_easy_init() failed");

    ResponseBuffer response;
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, kAllowedProtocols);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 0L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, write_callback);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
    // A length announced beyond the limit is refused before any of the body is read.
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(response.limit));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeout_milliseconds(request.timeout_seconds));
    // Peers are verified: the requests carry credentials.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    set_trust(curl, trust, handles.caches());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    // Threads other than the main one cannot take signals for time-outs.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    if (request.environment.http_proxy) curl_easy_setopt(curl, CURLOPT_PROXY, request.environment.http_proxy->c_str());
    // An empty proxy makes libcurl connect directly, whatever the environment says.
    if (request.proxy) curl_easy_setopt(curl, CURLOPT_PROXY, request.proxy->c_str());
    if (request.max_idle_seconds) curl_easy_setopt(curl, CURLOPT_MAXAGE_CONN, *request.max_idle_seconds);

    std::string lowered = request.method;
    strlwr(lowered);
    choose_request_form(curl, lowered, request.method, request.body);

    const TransferOutcome outcome = run_transfer(handles.multi(), curl, interrupted);
    HttpResult result;
    if (outcome.interrupted) {
        result = failure(outcome.code);
        result.interrupted = true;
    } else if (outcome.code == CURLE_WRITE_ERROR && response.too_large) {
        // A body that passed the limit without announcing its length ends as one that announced it.
        result = failure(CURLE_FILESIZE_EXCEEDED);
    } else if (outcome.code != CURLE_OK) {
        result = failure(outcome.code);
    } else {
        long response_code = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response_code);
        std::string& received = response.data;
        received.resize(std::strlen(received.c_str()));  // the body ends at its first NUL byte
        result.http_status = static_cast<std::int32_t>(response_code);
        result.body = std::move(received);
    }
    long header_bytes = 0;
    curl_easy_getinfo(curl, CURLINFO_HEADER_SIZE, &header_bytes);
    result.answer_started = header_bytes > 0;
    result.retry_after = answer_header(curl, "Retry-After", false);
    result.ratelimit = answer_header(curl, "Ratelimit", true);
    result.ratelimit_policy = answer_header(curl, "Ratelimit-Policy", true);
    return result;
}
