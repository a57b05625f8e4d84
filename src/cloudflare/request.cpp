#include "cloudflare/request.hpp"

#include "common/perform.hpp"

namespace {

constexpr std::string_view kDefaultPath = "/zones?page=1&per_page=20&order=status&direction=desc&match=all";

}  // namespace

HeaderLines GetCloudflareHttpRequestHeaders(std::string_view token) {
    std::string authorization = "Authorization: Bearer ";
    authorization += token;
    return HeaderLines{"Content-Type: application/json", std::move(authorization)};
}

std::string BuildCloudflareFullUrl(std::string_view base_url, const std::optional<std::string>& path) {
    std::string url(base_url);
    if (path) {
        url += *path;
    } else {
        url += kDefaultPath;
    }
    return url;
}

HttpResult request(const CloudflareCall& call, std::string_view method, const std::optional<std::string>& path,
                   const std::optional<std::string>& body) {
    HttpRequest http;
    http.method = std::string(method);
    http.url = BuildCloudflareFullUrl(call.api_url, path);
    http.header_lines = GetCloudflareHttpRequestHeaders(call.api_token);
    http.body = body;
    http.proxy = call.proxy;  // always handed on: an empty one keeps http_proxy out of Cloudflare requests
    http.environment = call.environment;
    return qov::perform(http);
}
