// The DNS records of the remembered zone: list, create, update, delete.
#include <optional>
#include <string>

#include "cloudflare/record_body.hpp"
#include "common/trace_writer.hpp"
#include "cloudflare/request.hpp"
#include "cloudflare/zone_lookup.hpp"
#include "cloudflare/zone_path.hpp"

namespace {

// Appends "&key=" and the percent-encoded value, so that a blank, "&", "#" or
// "+" filters by exactly that value. Nothing when the filter is not given.
bool add_filter(std::string& filters, const char* key, const char* value) {
    if (value == nullptr) return true;
    std::optional<std::string> escaped = escaped_query_value(value);
    if (!escaped) return false;
    filters += '&';
    filters += key;
    filters += '=';
    filters += *escaped;
    return true;
}

// The "?" is always there, so the first filter continues with its "&".
std::optional<std::string> listing_path(CloudflareObject* self, const std::string& filters) {
    return zone_scoped_path(self, "/dns_records?" + filters);
}

std::optional<std::string> record_path(CloudflareObject* self, const char* record_id) {
    std::optional<std::string> path = zone_scoped_path(self, "/dns_records/");
    // An id that is not one segment would address another resource ("..": the
    // zone itself, "": the whole record collection).
    if (!path || !check_path_segment(record_id, "record_id")) return std::nullopt;
    if (*record_id == '\0') {
        qov::raise(PyExc_ValueError, "record_id must not be empty");
        return std::nullopt;
    }
    *path += record_id;
    return path;
}

PyObject* send_record(CloudflareObject* self, const char* method, const std::optional<std::string>& path,
                      const RecordFields& record) {
    if (!path) return nullptr;
    std::optional<std::string> body = record_body(record);
    if (!body) return nullptr;
    return request(method, self, path, body).release();
}

}  // namespace

PyObject* Cloudflare_get_dns_records(PyObject* object, PyObject* args, PyObject*) {
    const char *domain = nullptr, *type = nullptr, *name = nullptr, *content = nullptr;
    if (!PyArg_ParseTuple(args, "|zsss", &domain, &type, &name, &content)) return nullptr;
    std::string filters;
    if (!add_filter(filters, "type", type) || !add_filter(filters, "name", name) ||
        !add_filter(filters, "content", content)) {
        return nullptr;
    }
    CloudflareObject* self = as_cloudflare(object);
    std::optional<std::string> path;

    if (domain != nullptr) {
        std::optional<std::string> zone;
        if (self->zone != nullptr) {
            zone = qov::utf8_of_str(self->zone, "zone");
            if (!zone) return nullptr;
        }
        const bool same = zone && *zone == domain;
        // A remembered id that cannot be used is refused before anything is printed.
        if (same && self->zone_id != nullptr) {
            path = listing_path(self, filters);
            if (!path) return nullptr;
        }
        if (zone) debug("current_domain: %s\n", zone->c_str());
        if (!same) {
            LookupFailure failure;
            if (!look_up_zone(self, domain, failure)) {
                // Errors in the instance's own fields stand; an answer without a zone is reported as such.
                if (failure == LookupFailure::no_zone) PyErr_Format(PyExc_TypeError, "Domain not found: %s", domain);
                return nullptr;
            }
        }
    } else if (self->zone_id == nullptr) {
        return qov::raise(PyExc_TypeError, "domain should be a string");
    }
    // Reached when the domain equals a `zone` that was set without a lookup.
    if (self->zone_id == nullptr) return qov::raise(PyExc_TypeError, "Domain not found!");
    if (!path) path = listing_path(self, filters);
    if (!path) return nullptr;
    return request("GET", self, path, std::nullopt).release();
}

PyObject* Cloudflare_create_dns_record(PyObject* object, PyObject* args, PyObject*) {
    const char *type = nullptr, *name = nullptr, *content = nullptr;
    int proxied = 0;
    unsigned int ttl = 0;  // any integer, kept to its low 32 bits
    if (!PyArg_ParseTuple(args, "ssspI", &type, &name, &content, &proxied, &ttl)) return nullptr;
    CloudflareObject* self = as_cloudflare(object);
    return send_record(self, "POST", zone_scoped_path(self, "/dns_records"),
                       {type, name, content, proxied != 0, static_cast<std::int32_t>(ttl)});
}

PyObject* Cloudflare_update_dns_record(PyObject* object, PyObject* args, PyObject*) {
    const char *record_id = nullptr, *type = nullptr, *name = nullptr, *content = nullptr;
    int proxied = 0;
    unsigned int ttl = 0;  // any integer, kept to its low 32 bits
    if (!PyArg_ParseTuple(args, "sssspI", &record_id, &type, &name, &content, &proxied, &ttl)) return nullptr;
    CloudflareObject* self = as_cloudflare(object);
    return send_record(self, "PUT", record_path(self, record_id),
                       {type, name, content, proxied != 0, static_cast<std::int32_t>(ttl)});
}

PyObject* Cloudflare_delete_dns_record(PyObject* object, PyObject* args, PyObject*) {
    const char* record_id = nullptr;
    if (!PyArg_ParseTuple(args, "s", &record_id)) return nullptr;
    CloudflareObject* self = as_cloudflare(object);
    std::optional<std::string> path = record_path(self, record_id);
    if (!path) return nullptr;
    return request("DELETE", self, path, std::nullopt).release();
}
