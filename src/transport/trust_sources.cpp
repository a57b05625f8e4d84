#include "transport/trust_sources.hpp"

#include <algorithm>

Trust choose_trust(const TrustVariables& variables, const SystemTrust& system) {
    if (variables.curl_ca_bundle) return {TrustSource::curl_ca_bundle, *variables.curl_ca_bundle, ""};
    if (variables.ssl_cert_file || variables.ssl_cert_dir) {
        return {TrustSource::ssl_cert_variables, variables.ssl_cert_file.value_or(""),
                variables.ssl_cert_dir.value_or("")};
    }
    if (!system.directory.empty()) return {TrustSource::system_directory, "", system.directory};
    if (!system.bundle.empty()) return {TrustSource::system_bundle, system.bundle, ""};
    return {};
}

SystemTrust find_system_trust(const PathProbe& is_hashed_directory, const PathProbe& is_file) {
    SystemTrust found;
    for (std::string_view place : kSystemCaDirectories) {
        if (is_hashed_directory(std::string(place))) {
            found.directory = place;
            break;
        }
    }
    for (std::string_view place : kSystemCaBundles) {
        if (is_file(std::string(place))) {
            found.bundle = place;
            break;
        }
    }
    return found;
}

bool is_hashed_certificate_name(std::string_view name) {
    const auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    return name.size() >= 10 && std::all_of(name.begin(), name.begin() + 8, hex) && name[8] == '.' &&
           std::all_of(name.begin() + 9, name.end(), digit);
}
