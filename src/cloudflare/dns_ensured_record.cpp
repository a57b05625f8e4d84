// dns_ensured_record: brings one DNS record into the wanted state in one call.
#include <string>
#include <string_view>

#include "cloudflare/cloudflare.hpp"
#include "cloudflare/listed_records.hpp"
#include "cloudflare/mx_content.hpp"
#include "common/trace_writer.hpp"

namespace {

struct Wanted {
    std::string type;
    std::string name;
    std::string content;
    bool proxied;
    int ttl;
};

bool is_exclusive_type(std::string_view type) { return type == "A" || type == "AAAA" || type == "CNAME"; }

std::string_view without_quotes(std::string_view text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') return text.substr(1, text.size() - 2);
    return text;
}

// MX records match on the host alone; TXT contents match with or without the
// double quotes the service wraps them in.
bool content_matches(const Wanted& wanted, const ListedRecord& record) {
    if (wanted.type == "MX") return record.content == split_mx_content(wanted.content).host;
    if (wanted.type == "TXT") return without_quotes(record.content) == without_quotes(wanted.content);
    return record.content == wanted.content;
}

// Returns a new reference or null; a null args tuple means building it failed.
qov::Ref call(qov::MethodFunction method, CloudflareObject* self, qov::Ref args) {
    if (!args) return {};
    return qov::Ref::steal(method(reinterpret_cast<PyObject*>(self), args.get(), nullptr));
}

qov::Ref create(CloudflareObject* self, const Wanted& w) {
    return call(Cloudflare_create_dns_record, self,
                qov::Ref::steal(Py_BuildValue("(sssOi)", w.type.c_str(), w.name.c_str(), w.content.c_str(),
                                              w.proxied ? Py_True : Py_False, w.ttl)));
}

qov::Ref update(CloudflareObject* self, const ListedRecord& record, const Wanted& w) {
    return call(Cloudflare_update_dns_record, self,
                qov::Ref::steal(Py_BuildValue("(ssssOi)", record.id.c_str(), w.type.c_str(), w.name.c_str(),
                                              w.content.c_str(), w.proxied ? Py_True : Py_False, w.ttl)));
}

qov::Ref remove(CloudflareObject* self, const ListedRecord& record) {
    return call(Cloudflare_delete_dns_record, self, qov::Ref::steal(Py_BuildValue("(s)", record.id.c_str())));
}

void trace_record(const char* label, const ListedRecord& r) {
    debug("%s: %s %s, %s, %s, %d\n", label, r.id.c_str(), r.name.c_str(), r.type.c_str(), r.content.c_str(),
                r.proxied ? 1 : 0);
}

qov::Ref not_found(const char* format, const Wanted& w) {
    qov::Ref message = qov::Ref::steal(
        PyUnicode_FromFormat(format, w.name.c_str(), w.type.c_str(), w.content.c_str(), w.proxied ? 1 : 0));
    if (!message) return {};
    return qov::Ref::steal(Py_BuildValue("(sO)", "404", message.get()));
}

qov::Ref found(const Listing& listing, const ListedRecord& r) {
    qov::Ref message = qov::Ref::steal(PyUnicode_FromFormat("Record found: %s %s, %s, %s, %d %d", r.id.c_str(),
                                                            r.name.c_str(), r.type.c_str(), r.content.c_str(),
                                                            r.proxied ? 1 : 0, static_cast<int>(r.priority)));
    if (!message) return {};
    PyObject* status = PyTuple_GET_ITEM(listing.responses[r.page].get(), 0);
    return qov::Ref::steal(PyTuple_Pack(2, status, message.get()));
}

// A flag given as any object the interpreter can read as an integer; omitted means true.
bool read_flag(PyObject* given, bool& flag) {
    flag = true;
    if (given == nullptr) return true;
    const long value = PyLong_AsLong(given);
    if (value == -1 && PyErr_Occurred()) return false;
    flag = value != 0;
    return true;
}

// A record of the wanted name and type whose content or proxied flag is not the wanted one.
qov::Ref settle_differing(CloudflareObject* self, const Listing& listing, const ListedRecord& record,
                          const Wanted& wanted, bool replace, bool& keep_scanning) {
    trace_record("record found content or proxy not the same", record);
    if (replace && wanted.type == "TXT") {
        // Every other TXT value of the name goes; the response is not the caller's.
        if (!remove(self, record)) return {};
        keep_scanning = true;
        return {};
    }
    if (replace) return update(self, record, wanted);
    if (wanted.type == "TXT") return create(self, wanted);
    if (wanted.type == "MX") {
        if (record.priority == split_mx_content(wanted.content).priority) return found(listing, record);
        return create(self, wanted);
    }
    return update(self, record, wanted);
}

qov::Ref ensure(CloudflareObject* self, const char* domain, Wanted& wanted, bool present, bool replace) {
    qov::Ref first_page = call(Cloudflare_get_dns_records, self, qov::Ref::steal(Py_BuildValue("(s)", domain)));
    if (!first_page) {
        // A failed zone lookup reads as an unknown domain; errors in the instance's own fields stand.
        if (PyErr_ExceptionMatches(PyExc_TypeError)) PyErr_Format(PyExc_TypeError, "Domain not found: %s", domain);
        return {};
    }
    Listing listing;
    if (!read_whole_listing(self, std::move(first_page), listing)) return {};
    if (listing.unscannable) return std::move(listing.unscannable);

    if (listing.listed == 0) {
        return present ? create(self, wanted) : not_found("Record not found: %s, %s, %s, %d", wanted);
    }
    for (const ListedRecord& record : listing.records) {
        if (record.name != wanted.name) continue;
        if (record.type == wanted.type) {
            const bool matches = content_matches(wanted, record);
            if (matches && !present) {
                trace_record("record found delete", record);
                return remove(self, record);
            }
            if (matches && record.proxied == wanted.proxied) {
                return qov::Ref::borrow(listing.responses[record.page].get());
            }
            // Asked for absence, a different record of the name is left alone.
            if (!present && !(replace && wanted.type == "TXT")) continue;
            bool keep_scanning = false;
            qov::Ref outcome = settle_differing(self, listing, record, wanted, replace, keep_scanning);
            if (keep_scanning) continue;
            return outcome;
        }
        if (is_exclusive_type(record.type) && is_exclusive_type(wanted.type)) {
            if (!present) continue;  // absence of the wanted record does not touch another one
            trace_record("record found", record);
            if (!remove(self, record)) return {};
            return create(self, wanted);
        }
    }
    return present ? create(self, wanted) : not_found("Nothing to do, Record not found: %s, %s, %s, %d", wanted);
}

}  // namespace

PyObject* Cloudflare_ensure_dns_record(PyObject* object, PyObject* args, PyObject*) {
    const char *domain = nullptr, *type = nullptr, *name = nullptr, *content = nullptr;
    int proxied = 0, ttl = 0;
    PyObject *present_flag = nullptr, *replace_flag = nullptr;
    if (!PyArg_ParseTuple(args, "sssspi|OO", &domain, &type, &name, &content, &proxied, &ttl, &present_flag,
                          &replace_flag)) {
        return nullptr;
    }
    CloudflareObject* self = as_cloudflare(object);
    if (self->zone_id == nullptr) return qov::raise(PyExc_TypeError, "Zone id is null, please query domain first.");
    bool present = true, replace = true;
    if (!read_flag(present_flag, present) || !read_flag(replace_flag, replace)) return nullptr;

    Wanted wanted{type, name, content, proxied != 0, ttl};
    if (wanted.type == "TXT") wanted.proxied = false;  // TXT records cannot be proxied
    return ensure(self, domain, wanted, present, replace).release();
}
