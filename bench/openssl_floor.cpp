// The floor under any client built on this machine's OpenSSL: the CPU one fresh
// process spends on its first verified HTTPS request, and on a later request
// over a new connection (a full handshake without the one-time start-up).
//
//     openssl_floor PORT CA_DIR PATH    prints "<first ms> <later ms>"
//
// Each request does what libcurl does for one: a new TLS context, the hashed CA
// directory as trust, the peer verified against 127.0.0.1, a GET read to the end.
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

struct SslCtxFree { void operator()(SSL_CTX* p) const { SSL_CTX_free(p); } };
struct SslFree { void operator()(SSL* p) const { SSL_free(p); } };
struct FdClose { void operator()(int* fd) const { close(*fd); delete fd; } };

double cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// One verified GET over a new connection; true when the answer is a 200.
bool one_request(int port, const char* ca_dir, const char* path) {
    std::unique_ptr<SSL_CTX, SslCtxFree> ctx(SSL_CTX_new(TLS_client_method()));
    if (!ctx || SSL_CTX_load_verify_dir(ctx.get(), ca_dir) != 1) return false;
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
    std::unique_ptr<int, FdClose> fd(new int(socket(AF_INET, SOCK_STREAM, 0)));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (*fd < 0 || connect(*fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
    std::unique_ptr<SSL, SslFree> ssl(SSL_new(ctx.get()));
    if (!ssl || SSL_set_fd(ssl.get(), *fd) != 1) return false;
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), "127.0.0.1");
    if (SSL_connect(ssl.get()) != 1) return false;
    const std::string request = std::string("GET ") + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                "\r\nAuthorization: Bearer bench-token\r\nConnection: close\r\n\r\n";
    if (SSL_write(ssl.get(), request.data(), static_cast<int>(request.size())) <= 0) return false;
    std::string answer;
    char buffer[65536];
    for (int n; (n = SSL_read(ssl.get(), buffer, sizeof buffer)) > 0;) answer.append(buffer, static_cast<size_t>(n));
    return answer.rfind("HTTP/1.1 200", 0) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: openssl_floor PORT CA_DIR PATH\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    OPENSSL_init_ssl(0, nullptr);  // libcurl's global set-up does this at import
    const double began = cpu_ms();
    const bool first = one_request(port, argv[2], argv[3]);
    const double between = cpu_ms();
    const bool later = one_request(port, argv[2], argv[3]);
    const double ended = cpu_ms();
    if (!first || !later) {
        std::fprintf(stderr, "openssl_floor: a request failed\n");
        return 1;
    }
    std::printf("%.3f %.3f\n", between - began, ended - between);
    return 0;
}
