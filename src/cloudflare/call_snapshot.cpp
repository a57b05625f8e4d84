#include "cloudflare/call_snapshot.hpp"

#include <string_view>
#include <utility>

#include "cloudflare/response_type.hpp"
#include "cloudflare/zone_errors.hpp"
#include "cloudflare/zone_path.hpp"

bool has_zone_id(CloudflareObject* self) {
    PyObject* zone_id = self->zone_id;  // the setter and the lookup store only str
    return zone_id != nullptr && (!PyUnicode_Check(zone_id) || PyUnicode_GET_LENGTH(zone_id) > 0);
}

std::optional<std::string> remembered_zone_id(CloudflareObject* self) {
    if (!has_zone_id(self)) {
        raise_no_zone();
        return std::nullopt;
    }
    std::optional<std::string> zone_id = qov::utf8_of_str(self->zone_id, "zone_id");
    if (!zone_id || !check_path_segment(*zone_id, "zone_id")) return std::nullopt;
    return zone_id;
}

std::optional<CloudflareCall> read_call(CloudflareObject* self, std::string zone_id) {
    std::optional<std::string> token = qov::utf8_of_str_form(self->api_token, "api_token");
    if (!token) return std::nullopt;
    // A line break or NUL in the token would end the header line and start another.
    if (token->find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        qov::raise(PyExc_ValueError, "api_token must not contain carriage returns, line feeds or NUL characters");
        return std::nullopt;
    }
    std::optional<std::string> url = qov::utf8_of_str_form(self->api_url, "api_url");
    if (!url) return std::nullopt;
    std::optional<std::string> proxy = qov::utf8_of_str(self->proxy, "proxy");
    if (!proxy) return std::nullopt;
    return CloudflareCall{std::move(*url), std::move(*token), std::move(*proxy), read_request_environment(),
                          std::move(zone_id), self->limits};
}

qov::Ref response_tuple(const HttpResult& result, const char* action) {
    return make_response(qov::Ref::steal(PyLong_FromLong(shown_status(result))), qov::lenient_str(result.body),
                         action);
}

qov::Ref response_tuple(const std::optional<HttpResult>& result) {
    if (!result) return {};
    return response_tuple(*result);
}

qov::Ref response_tuple(PyObject* status, PyObject* message, const char* action) {
    if (status == nullptr || message == nullptr) return {};
    return make_response(qov::Ref::borrow(status), qov::Ref::borrow(message), action);
}

std::optional<std::string> lenient_utf8(const std::string& bytes) {
    const qov::Ref text = qov::lenient_str(bytes);
    if (!text) return std::nullopt;
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size);
    if (utf8 == nullptr) return std::nullopt;
    return std::string(utf8, static_cast<std::size_t>(size));
}
