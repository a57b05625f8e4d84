// query: finds the zone of a domain and remembers it.
#include "cloudflare/zone_lookup.hpp"

#include <string>
#include <string_view>

#include "common/json_tree.hpp"
#include "cloudflare/request.hpp"
#include "cloudflare/zone_path.hpp"

namespace {

constexpr std::string_view kLookupPrefix = "/zones?page=1&per_page=20&order=status&direction=desc&match=all&name=";

// The id text of the first listed zone, or null with an exception set when the
// answer does not name a usable zone.
json_object* first_zone_id(json_object* root, PyObject* body, const char* domain) {
    // A missing member, or a body that is not JSON, reads as false.
    if (!json_object_get_boolean(json_object_object_get(root, "success"))) {
        PyErr_SetObject(PyExc_Exception, body);
        return nullptr;
    }
    json_object* zones = json_object_object_get(root, "result");
    if (!json_object_is_type(zones, json_type_array)) {
        PyErr_Format(PyExc_Exception, "Unexpected zone listing for %s: \"result\" is not an array", domain);
        return nullptr;
    }
    if (json_object_array_length(zones) == 0) {
        PyErr_Format(PyExc_TypeError, "Domain not found: %s", domain);
        return nullptr;
    }
    json_object* id = nullptr;
    if (!json_object_object_get_ex(json_object_array_get_idx(zones, 0), "id", &id) ||
        !json_object_is_type(id, json_type_string)) {
        PyErr_Format(PyExc_Exception, "Unexpected zone listing for %s: the first zone has no \"id\" text", domain);
        return nullptr;
    }
    return id;
}

}  // namespace

qov::Ref look_up_zone(CloudflareObject* self, const char* domain, LookupFailure& failure) {
    failure = LookupFailure::other;
    // Escaped so that a blank, "&", "#" or "+" filters by exactly that domain.
    std::optional<std::string> name = escaped_query_value(domain);
    if (!name) return {};
    qov::Ref response = request("GET", self, std::string(kLookupPrefix) + *name, std::nullopt);
    if (!response) return {};

    PyObject* body = PyTuple_GET_ITEM(response.get(), 1);  // borrowed from the tuple
    const char* text = PyUnicode_AsUTF8(body);
    if (text == nullptr) return {};
    JsonPtr root(json_tokener_parse(text));
    json_object* id = first_zone_id(root.get(), body, domain);
    if (id == nullptr) {
        failure = LookupFailure::no_zone;
        return {};
    }

    // Both values are made before either field changes, so a failure changes neither.
    qov::Ref zone_id =
        qov::Ref::steal(PyUnicode_FromStringAndSize(json_object_get_string(id), json_object_get_string_len(id)));
    if (!zone_id) return {};
    qov::Ref zone = qov::Ref::steal(PyUnicode_FromString(domain));
    if (!zone) return {};
    qov::replace_field(self->zone_id, std::move(zone_id));
    qov::replace_field(self->zone, std::move(zone));
    return response;
}

PyObject* Cloudflare_query(PyObject* self, PyObject* args, PyObject*) {
    const char* domain = nullptr;
    if (!PyArg_ParseTuple(args, "s", &domain)) return nullptr;
    LookupFailure failure;
    return look_up_zone(as_cloudflare(self), domain, failure).release();
}
