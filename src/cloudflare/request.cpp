#include "cloudflare/request.hpp"

#include "common/perform.hpp"

namespace {

constexpr std::string_view kDefaultPath = "/zones?page=1&per_page=20&order=status&direction=desc&match=all";

qov::Ref response_tuple(const HttpResult& result) {
    qov::Ref status = qov::Ref::steal(PyLong_FromLong(result.status));
    if (!status) return {};
    // A body that is not UTF-8 still comes back, with U+FFFD in place of bad bytes.
    qov::Ref body = qov::lenient_str(result.body);
    if (!body) return {};
    qov::Ref tuple = qov::Ref::steal(PyTuple_New(2));
    if (!tuple) return {};
    PyTuple_SET_ITEM(tuple.get(), 0, status.release());
    PyTuple_SET_ITEM(tuple.get(), 1, body.release());
    return tuple;
}

}  // namespace

std::optional<HeaderLines> GetCloudflareHttpRequestHeaders(CloudflareObject* self) {
    std::optional<std::string> token = qov::utf8_of_str_form(self->api_token, "api_token");
    if (!token) return std::nullopt;
    // A line break or NUL in the token would end the header line and start another.
    if (token->find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        qov::raise(PyExc_ValueError, "api_token must not contain carriage returns, line feeds or NUL characters");
        return std::nullopt;
    }
    return HeaderLines{"Content-Type: application/json", "Authorization: Bearer " + *token};
}

std::optional<std::string> BuildCloudflareFullUrl(CloudflareObject* self, const std::optional<std::string>& path) {
    std::optional<std::string> url = qov::utf8_of_str_form(self->api_url, "api_url");
    if (!url) return std::nullopt;
    if (path) {
        *url += *path;
    } else {
        *url += kDefaultPath;
    }
    return url;
}

qov::Ref request(std::string_view method, CloudflareObject* self, const std::optional<std::string>& path,
                 const std::optional<std::string>& body) {
    std::optional<HeaderLines> headers = GetCloudflareHttpRequestHeaders(self);
    if (!headers) return {};
    std::optional<std::string> url = BuildCloudflareFullUrl(self, path);
    if (!url) return {};
    std::optional<std::string> proxy = qov::utf8_of_str(self->proxy, "proxy");
    if (!proxy) return {};

    std::optional<HttpResult> result = qov::perform({std::string(method), std::move(*url), std::move(*headers), body,
                                                     std::move(proxy), read_request_environment()});
    if (!result) return {};
    return response_tuple(*result);
}

PyObject* Cloudflare_get(PyObject* self, PyObject* args, PyObject*) {
    const char* path = nullptr;
    if (!PyArg_ParseTuple(args, "|s", &path)) return nullptr;
    std::optional<std::string> wanted;
    if (path != nullptr) wanted = path;
    return request("GET", as_cloudflare(self), wanted, std::nullopt).release();
}
