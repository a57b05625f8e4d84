// Which certificates verify a server, chosen without touching the disk, so the
// choice can be tested on its own. In order of precedence:
//   1. CURL_CA_BUNDLE, a CA file;
//   2. OpenSSL's variables SSL_CERT_FILE and SSL_CERT_DIR, as many tools honour them;
//   3. the system's hashed CA directory, where OpenSSL loads only the issuers a
//      server's chain needs instead of parsing a whole bundle;
//   4. the system's CA bundle file;
//   5. libcurl's compiled-in defaults, when the system has neither.
// A source that is chosen is the only one: libcurl's compiled-in file and
// directory are never loaded beside it (a wheel's libcurl may name paths of
// another distribution, and loading the bundle is the cost of a cold start).
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The variables as read from the environment; unset and empty both count as absent.
struct TrustVariables {
    std::optional<std::string> curl_ca_bundle;
    std::optional<std::string> ssl_cert_file;
    std::optional<std::string> ssl_cert_dir;
};

// What the system offers; an empty path where it has none.
struct SystemTrust {
    std::string directory;  // a hashed CA directory ("<8 hex digits>.<n>" names)
    std::string bundle;     // a file of concatenated CA certificates
};

enum class TrustSource { curl_ca_bundle, ssl_cert_variables, system_directory, system_bundle, libcurl_default };

struct Trust {
    TrustSource source = TrustSource::libcurl_default;
    std::string ca_file;       // CURLOPT_CAINFO; empty: none
    std::string ca_directory;  // CURLOPT_CAPATH; empty: none
    friend bool operator==(const Trust&, const Trust&) = default;
};

Trust choose_trust(const TrustVariables& variables, const SystemTrust& system);

// Where the major distributions keep their CA certificates, looked at in this order.
inline constexpr std::array<std::string_view, 4> kSystemCaDirectories{
    "/etc/ssl/certs",                                 // Debian, Ubuntu, Alpine, Arch, openSUSE
    "/etc/pki/ca-trust/extracted/pem/directory-hash",  // Fedora, RHEL 9 and their kin
    "/var/lib/ca-certificates/openssl",               // openSUSE, SLES
    "/etc/pki/tls/certs",                             // older RHEL, where it was hashed by hand
};
inline constexpr std::array<std::string_view, 5> kSystemCaBundles{
    "/etc/ssl/certs/ca-certificates.crt",                 // Debian, Ubuntu, Alpine, Arch, Gentoo
    "/etc/pki/tls/certs/ca-bundle.crt",                   // Fedora, RHEL
    "/etc/ssl/ca-bundle.pem",                             // openSUSE, SLES
    "/etc/pki/ca-trust/extracted/pem/tls-ca-bundle.pem",  // Fedora, RHEL
    "/etc/ssl/cert.pem",                                  // Alpine, Void, the BSDs
};

using PathProbe = std::function<bool(const std::string& path)>;

// The first of the usual directories that `is_hashed_directory` accepts and the
// first of the usual bundles that `is_file` accepts.
SystemTrust find_system_trust(const PathProbe& is_hashed_directory, const PathProbe& is_file);

// True for an OpenSSL hashed name: 8 lower-case hex digits, '.', a decimal number.
bool is_hashed_certificate_name(std::string_view name);
