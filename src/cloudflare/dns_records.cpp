// The DNS records of the remembered zone: list, create, update, delete.
#include "cloudflare/dns_records.hpp"

#include <optional>
#include <string>

#include "cloudflare/call_snapshot.hpp"
#include "cloudflare/record_body.hpp"
#include "cloudflare/request.hpp"
#include "cloudflare/zone_errors.hpp"
#include "cloudflare/zone_lookup.hpp"
#include "cloudflare/zone_path.hpp"
#include "common/trace_writer.hpp"

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

// An id that is not one segment would address another resource ("..": the
// zone itself, "": the whole record collection).
bool check_record_id(const char* record_id) {
    if (!check_path_segment(record_id, "record_id")) return false;
    if (*record_id == '\0') {
        qov::raise(PyExc_ValueError, "record_id must not be empty");
        return false;
    }
    return true;
}

// POST or PUT of a record body; `record_id` null for a create.
PyObject* send_record(CloudflareObject* self, const char* method, const char* record_id,
                      const RecordFields& record) {
    std::optional<std::string> zone_id = remembered_zone_id(self);
    if (!zone_id || (record_id != nullptr && !check_record_id(record_id))) return nullptr;
    std::optional<std::string> body = record_body(record);
    if (!body) return nullptr;
    std::optional<CloudflareCall> call = read_call(self, std::move(*zone_id));
    if (!call) return nullptr;
    const std::string path =
        record_id != nullptr ? record_path(call->zone_id, record_id) : zone_scoped_path(call->zone_id, "/dns_records");
    return response_tuple(request(*call, method, path, body)).release();
}

}  // namespace

std::optional<CloudflareCall> listing_call(CloudflareObject* self, const char* domain) {
    std::optional<std::string> zone_id;
    std::optional<CloudflareCall> call;
    if (domain != nullptr) {
        std::optional<std::string> zone;
        if (self->zone != nullptr) {
            zone = qov::utf8_of_str(self->zone, "zone");
            if (!zone) return std::nullopt;
        }
        const bool same = zone && *zone == domain;
        // A remembered id that cannot be used is refused before anything is printed.
        if (same && has_zone_id(self)) {
            zone_id = remembered_zone_id(self);
            if (!zone_id) return std::nullopt;
        }
        if (zone) debug("current_domain: %s\n", zone->c_str());
        if (!same) {
            call = read_call(self);
            if (!call) return std::nullopt;
            LookupFailure failure;
            std::optional<ZoneFound> found = look_up_zone(self, *call, domain, failure);
            if (!found) {
                // An answer without a zone is reported as such; other errors stand.
                if (failure == LookupFailure::no_zone) raise_zone_not_found(domain);
                return std::nullopt;
            }
            if (!found->zone_id.empty() && !check_path_segment(found->zone_id, "zone_id")) return std::nullopt;
            zone_id = std::move(found->zone_id);
        }
    } else if (!has_zone_id(self)) {
        qov::raise(PyExc_TypeError, "domain should be a string");
        return std::nullopt;
    }
    // Reached when the domain equals a `zone` that was set without a lookup.
    if (zone_id ? zone_id->empty() : !has_zone_id(self)) {
        raise_zone_not_found(nullptr);
        return std::nullopt;
    }
    if (!zone_id) {
        zone_id = remembered_zone_id(self);
        if (!zone_id) return std::nullopt;
    }
    if (!call) {
        call = read_call(self);
        if (!call) return std::nullopt;
    }
    call->zone_id = std::move(*zone_id);
    return call;
}

PyObject* Cloudflare_get_dns_records(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* kwlist[] = {"domain", "type", "name", "content", nullptr};
    const char *domain = nullptr, *type = nullptr, *name = nullptr, *content = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|zsss:dns_get_records", const_cast<char**>(kwlist), &domain,
                                     &type, &name, &content)) {
        return nullptr;
    }
    // The "?" is always there, so the first filter continues with its "&".
    std::string suffix = "/dns_records?";
    if (!add_filter(suffix, "type", type) || !add_filter(suffix, "name", name) ||
        !add_filter(suffix, "content", content)) {
        return nullptr;
    }
    std::optional<CloudflareCall> call = listing_call(as_cloudflare(self), domain);
    if (!call) return nullptr;
    return response_tuple(request(*call, "GET", zone_scoped_path(call->zone_id, suffix), std::nullopt)).release();
}

PyObject* Cloudflare_create_dns_record(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* kwlist[] = {"type", "name", "content", "proxied", "ttl", nullptr};
    const char *type = nullptr, *name = nullptr, *content = nullptr;
    int proxied = 0;
    unsigned int ttl = 0;  // any integer, kept to its low 32 bits
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "ssspI:dns_create_record", const_cast<char**>(kwlist), &type,
                                     &name, &content, &proxied, &ttl)) {
        return nullptr;
    }
    return send_record(as_cloudflare(self), "POST", nullptr,
                       {type, name, content, proxied != 0, static_cast<std::int32_t>(ttl)});
}

PyObject* Cloudflare_update_dns_record(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* kwlist[] = {"record_id", "type", "name", "content", "proxied", "ttl", nullptr};
    const char *record_id = nullptr, *type = nullptr, *name = nullptr, *content = nullptr;
    int proxied = 0;
    unsigned int ttl = 0;  // any integer, kept to its low 32 bits
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "sssspI:dns_update_record", const_cast<char**>(kwlist),
                                     &record_id, &type, &name, &content, &proxied, &ttl)) {
        return nullptr;
    }
    return send_record(as_cloudflare(self), "PUT", record_id,
                       {type, name, content, proxied != 0, static_cast<std::int32_t>(ttl)});
}

PyObject* Cloudflare_delete_dns_record(PyObject* object, PyObject* args, PyObject* kwargs) {
    static const char* kwlist[] = {"record_id", nullptr};
    const char* record_id = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "s:dns_delete_record", const_cast<char**>(kwlist),
                                     &record_id)) {
        return nullptr;
    }
    CloudflareObject* self = as_cloudflare(object);
    std::optional<std::string> zone_id = remembered_zone_id(self);
    if (!zone_id || !check_record_id(record_id)) return nullptr;
    std::optional<CloudflareCall> call = read_call(self, std::move(*zone_id));
    if (!call) return nullptr;
    return response_tuple(request(*call, "DELETE", record_path(call->zone_id, record_id), std::nullopt)).release();
}
