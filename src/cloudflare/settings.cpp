// Zone settings and cache purge: one PATCH or POST with a one-member body each.
#include <optional>
#include <string>
#include <string_view>

#include "cloudflare/call_snapshot.hpp"
#include "cloudflare/json_body.hpp"
#include "cloudflare/request.hpp"
#include "cloudflare/zone_path.hpp"

namespace {

PyObject* send_to_zone(CloudflareObject* self, const char* method, std::string_view suffix, const JsonPtr& body) {
    std::optional<std::string> zone_id = remembered_zone_id(self);
    if (!zone_id) return nullptr;
    std::optional<std::string> text = body_text(body);
    if (!text) return nullptr;
    std::optional<CloudflareCall> call = read_call(self, std::move(*zone_id));
    if (!call) return nullptr;
    return response_tuple(request(*call, method, zone_scoped_path(call->zone_id, suffix), text)).release();
}

// The argument is read before the zone is looked at, so its error wins.
PyObject* change_setting(PyObject* object, PyObject* args, PyObject* kwargs, const char* format,
                         std::string_view suffix) {
    static const char* kwlist[] = {"value", nullptr};
    const char* value = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(kwlist), &value)) return nullptr;
    return send_to_zone(as_cloudflare(object), "PATCH", suffix, one_member_object("value", json_text(value)));
}

}  // namespace

PyObject* Cloudflare_change_always_use_https(PyObject* self, PyObject* args, PyObject* kwargs) {
    return change_setting(self, args, kwargs, "s:change_always_use_https", "/settings/always_use_https");
}

PyObject* Cloudflare_change_automatic_https_rewrites(PyObject* self, PyObject* args, PyObject* kwargs) {
    return change_setting(self, args, kwargs, "s:change_automatic_https_rewrites",
                          "/settings/automatic_https_rewrites");
}

PyObject* Cloudflare_change_ssl_model(PyObject* self, PyObject* args, PyObject* kwargs) {
    return change_setting(self, args, kwargs, "s:change_ssl_model", "/settings/ssl");
}

PyObject* Cloudflare_purge_cache(PyObject* object, PyObject* args, PyObject* kwargs) {
    static const char* kwlist[] = {nullptr};
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, ":purge_cache", const_cast<char**>(kwlist))) return nullptr;
    return send_to_zone(as_cloudflare(object), "POST", "/purge_cache",
                        one_member_object("purge_everything", JsonPtr(json_object_new_boolean(1))));
}
