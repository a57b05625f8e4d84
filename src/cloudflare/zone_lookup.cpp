// query: finds the zone of a domain and remembers it.
#include "cloudflare/zone_lookup.hpp"

#include <string_view>

#include "cloudflare/call_snapshot.hpp"
#include "cloudflare/request.hpp"
#include "cloudflare/zone_errors.hpp"
#include "cloudflare/zone_path.hpp"
#include "common/json_tree.hpp"

namespace {

constexpr std::string_view kLookupPrefix = "/zones?page=1&per_page=20&order=status&direction=desc&match=all&name=";

// The id text of the first listed zone, or null with an exception set when the
// answer does not name a usable zone. `text` is the body as the script sees it.
json_object* first_zone_id(json_object* root, const std::string& text, const char* domain,
                           const HttpResult& answer) {
    // A missing member, or a body that is not JSON (a failed transfer's
    // message among them), reads as false.
    if (!json_object_get_boolean(json_object_object_get(root, "success"))) {
        return raise_zone_lookup_error(text.c_str(), domain, answer);
    }
    json_object* zones = json_object_object_get(root, "result");
    if (!json_object_is_type(zones, json_type_array)) {
        const std::string message = "Unexpected zone listing for " + std::string(domain) + ": \"result\" is not an array";
        return raise_zone_lookup_error(message.c_str(), domain, answer);
    }
    if (json_object_array_length(zones) == 0) return raise_zone_not_found(domain);
    json_object* id = nullptr;
    if (!json_object_object_get_ex(json_object_array_get_idx(zones, 0), "id", &id) ||
        !json_object_is_type(id, json_type_string)) {
        const std::string message =
            "Unexpected zone listing for " + std::string(domain) + ": the first zone has no \"id\" text";
        return raise_zone_lookup_error(message.c_str(), domain, answer);
    }
    return id;
}

// Both values are made before either field changes, so a failure changes neither.
bool remember_zone(CloudflareObject* self, const std::string& zone_id, const char* domain) {
    qov::Ref id = qov::Ref::steal(
        PyUnicode_DecodeUTF8(zone_id.data(), static_cast<Py_ssize_t>(zone_id.size()), "strict"));
    if (!id) return false;
    qov::Ref zone = qov::Ref::steal(PyUnicode_FromString(domain));
    if (!zone) return false;
    qov::replace_field(self->zone_id, std::move(id));
    qov::replace_field(self->zone, std::move(zone));
    return true;
}

}  // namespace

std::optional<ZoneFound> look_up_zone(CloudflareObject* self, const CloudflareCall& call, const char* domain,
                                      LookupFailure& failure) {
    failure = LookupFailure::other;
    // Escaped so that a blank, "&", "#" or "+" filters by exactly that domain.
    std::optional<std::string> name = escaped_query_value(domain);
    if (!name) return std::nullopt;
    std::optional<HttpResult> response = request(call, "GET", std::string(kLookupPrefix) + *name, std::nullopt);
    if (!response) return std::nullopt;
    std::optional<std::string> text = lenient_utf8(response->body);
    if (!text) return std::nullopt;
    JsonPtr root(json_tokener_parse(text->c_str()));
    json_object* id = first_zone_id(root.get(), *text, domain, *response);
    if (id == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_MemoryError)) failure = LookupFailure::no_zone;
        return std::nullopt;
    }
    std::string zone_id(json_object_get_string(id), static_cast<std::size_t>(json_object_get_string_len(id)));
    if (!remember_zone(self, zone_id, domain)) return std::nullopt;
    return ZoneFound{std::move(*response), std::move(zone_id)};
}

PyObject* Cloudflare_query(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* kwlist[] = {"domain", nullptr};
    const char* domain = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "s:query", const_cast<char**>(kwlist), &domain)) return nullptr;
    std::optional<CloudflareCall> call = read_call(as_cloudflare(self));
    if (!call) return nullptr;
    LookupFailure failure;
    std::optional<ZoneFound> found = look_up_zone(as_cloudflare(self), *call, domain, failure);
    if (!found) return nullptr;
    return response_tuple(found->response).release();
}
