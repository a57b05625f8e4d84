// Zone settings and cache purge: one PATCH or POST with a one-member body each.
#include <optional>
#include <string>
#include <string_view>

#include "cloudflare/json_body.hpp"
#include "cloudflare/request.hpp"
#include "cloudflare/zone_path.hpp"

namespace {

PyObject* send_to_zone(CloudflareObject* self, const char* method, std::string_view suffix, const JsonPtr& body) {
    std::optional<std::string> path = zone_scoped_path(self, suffix);
    if (!path) return nullptr;
    std::optional<std::string> text = body_text(body);
    if (!text) return nullptr;
    return request(method, self, path, text).release();
}

// The argument is read before the zone is looked at, so its error wins.
PyObject* change_setting(PyObject* object, PyObject* args, std::string_view suffix) {
    const char* value = nullptr;
    if (!PyArg_ParseTuple(args, "s", &value)) return nullptr;
    return send_to_zone(as_cloudflare(object), "PATCH", suffix, one_member_object("value", json_text(value)));
}

}  // namespace

PyObject* Cloudflare_change_always_use_https(PyObject* self, PyObject* args, PyObject*) {
    return change_setting(self, args, "/settings/always_use_https");
}

PyObject* Cloudflare_change_automatic_https_rewrites(PyObject* self, PyObject* args, PyObject*) {
    return change_setting(self, args, "/settings/automatic_https_rewrites");
}

PyObject* Cloudflare_change_ssl_model(PyObject* self, PyObject* args, PyObject*) {
    return change_setting(self, args, "/settings/ssl");
}

// Any arguments are ignored.
PyObject* Cloudflare_purge_cache(PyObject* object, PyObject*, PyObject*) {
    return send_to_zone(as_cloudflare(object), "POST", "/purge_cache",
                        one_member_object("purge_everything", JsonPtr(json_object_new_boolean(1))));
}
