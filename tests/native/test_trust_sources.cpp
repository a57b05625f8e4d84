// Which certificates verify a server: the order of the sources, and where the
// system's are looked for.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <set>
#include <string>

#include "transport/trust_sources.hpp"

namespace {

const SystemTrust kDebian{"/etc/ssl/certs", "/etc/ssl/certs/ca-certificates.crt"};
const SystemTrust kBundleOnly{"", "/etc/pki/tls/certs/ca-bundle.crt"};
const SystemTrust kNothing{"", ""};

struct ChoiceCase {
    std::string name;
    TrustVariables variables;
    SystemTrust system;
    Trust expected;
};

void PrintTo(const ChoiceCase& c, std::ostream* out) { *out << c.name; }

class ChooseTrustTest : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(ChooseTrustTest, TakesTheFirstSourceThatIsThere) {
    EXPECT_EQ(choose_trust(GetParam().variables, GetParam().system), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Order, ChooseTrustTest,
    ::testing::Values(
        ChoiceCase{"curl_ca_bundle_first", {"/ca.pem", "/file.pem", "/dir"}, kDebian,
                   {TrustSource::curl_ca_bundle, "/ca.pem", ""}},
        ChoiceCase{"both_openssl_variables", {std::nullopt, "/file.pem", "/dir"}, kDebian,
                   {TrustSource::ssl_cert_variables, "/file.pem", "/dir"}},
        ChoiceCase{"ssl_cert_file_alone", {std::nullopt, "/file.pem", std::nullopt}, kDebian,
                   {TrustSource::ssl_cert_variables, "/file.pem", ""}},
        ChoiceCase{"ssl_cert_dir_alone", {std::nullopt, std::nullopt, "/dir"}, kDebian,
                   {TrustSource::ssl_cert_variables, "", "/dir"}},
        ChoiceCase{"system_directory_before_bundle", {}, kDebian,
                   {TrustSource::system_directory, "", "/etc/ssl/certs"}},
        ChoiceCase{"system_bundle_without_directory", {}, kBundleOnly,
                   {TrustSource::system_bundle, "/etc/pki/tls/certs/ca-bundle.crt", ""}},
        ChoiceCase{"libcurl_default_when_nothing", {}, kNothing, {TrustSource::libcurl_default, "", ""}}),
    [](const auto& info) { return info.param.name; });

struct SystemCase {
    std::string name;
    std::set<std::string> hashed_directories;
    std::set<std::string> files;
    SystemTrust expected;
};

void PrintTo(const SystemCase& c, std::ostream* out) { *out << c.name; }

class FindSystemTrustTest : public ::testing::TestWithParam<SystemCase> {};

TEST_P(FindSystemTrustTest, FindsTheFirstUsualPlaceThatIsThere) {
    const SystemCase& c = GetParam();
    const SystemTrust found = find_system_trust([&](const std::string& path) { return c.hashed_directories.count(path) > 0; },
                                                [&](const std::string& path) { return c.files.count(path) > 0; });
    EXPECT_EQ(found.directory, c.expected.directory);
    EXPECT_EQ(found.bundle, c.expected.bundle);
}

INSTANTIATE_TEST_SUITE_P(
    Distributions, FindSystemTrustTest,
    ::testing::Values(
        SystemCase{"debian", {"/etc/ssl/certs"}, {"/etc/ssl/certs/ca-certificates.crt", "/etc/ssl/cert.pem"}, kDebian},
        SystemCase{"fedora",
                   {"/etc/pki/ca-trust/extracted/pem/directory-hash"},
                   {"/etc/pki/tls/certs/ca-bundle.crt", "/etc/pki/ca-trust/extracted/pem/tls-ca-bundle.pem"},
                   {"/etc/pki/ca-trust/extracted/pem/directory-hash", "/etc/pki/tls/certs/ca-bundle.crt"}},
        SystemCase{"opensuse",
                   {"/var/lib/ca-certificates/openssl"},
                   {"/etc/ssl/ca-bundle.pem"},
                   {"/var/lib/ca-certificates/openssl", "/etc/ssl/ca-bundle.pem"}},
        SystemCase{"old_rhel_hashed_by_hand", {"/etc/pki/tls/certs"}, {}, {"/etc/pki/tls/certs", ""}},
        SystemCase{"bundle_only", {}, {"/etc/ssl/cert.pem"}, {"", "/etc/ssl/cert.pem"}},
        SystemCase{"nothing", {}, {}, kNothing}),
    [](const auto& info) { return info.param.name; });

struct NameCase {
    std::string name;
    bool hashed;
};

void PrintTo(const NameCase& c, std::ostream* out) { *out << '"' << c.name << '"'; }

class HashedNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(HashedNameTest, RecognisesOpenSslHashedNames) {
    EXPECT_EQ(is_hashed_certificate_name(GetParam().name), GetParam().hashed);
}

INSTANTIATE_TEST_SUITE_P(Names, HashedNameTest,
                         ::testing::Values(NameCase{"4ae75354.0", true}, NameCase{"002c0b4f.12", true},
                                           NameCase{"4AE75354.0", false}, NameCase{"4ae75354.", false},
                                           NameCase{"4ae7535.0", false}, NameCase{"4ae75354.r0", false},
                                           NameCase{"ca-certificates.crt", false}, NameCase{".", false},
                                           NameCase{"", false}));

}  // namespace
