// The Cloudflare class: instance layout and every function the type's tables point to.
#pragma once

#include "cloudflare/limits.hpp"
#include "common/interp.hpp"

struct CloudflareObject {
    PyObject_HEAD
    PyObject* email;
    PyObject* account;
    PyObject* api_token;
    PyObject* api_url;
    PyObject* zone;     // null until a lookup, a setter or a read stores a str
    PyObject* zone_id;  // likewise
    PyObject* proxy;    // never null; empty means a direct connection
    PyObject* trace;    // never null: True, False, None, a text stream or a logging.Logger
    CloudflareLimits limits;  // holds no interpreter object; checked when set
};

inline CloudflareObject* as_cloudflare(PyObject* self) { return reinterpret_cast<CloudflareObject*>(self); }

// Object and lifecycle
PyObject* Cloudflare_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);
int Cloudflare_init(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* CloudflareObject_get_zone(PyObject* self, void* closure);
PyObject* CloudflareObject_get_zone_id(PyObject* self, void* closure);
int CloudflareObject_set_zone(PyObject* self, PyObject* value, void* closure);
int CloudflareObject_set_zone_id(PyObject* self, PyObject* value, void* closure);
PyObject* CloudflareObject_get_timeout(PyObject* self, void* closure);
int CloudflareObject_set_timeout(PyObject* self, PyObject* value, void* closure);
PyObject* CloudflareObject_get_max_retries(PyObject* self, void* closure);
int CloudflareObject_set_max_retries(PyObject* self, PyObject* value, void* closure);
PyObject* CloudflareObject_get_trace(PyObject* self, void* closure);
int CloudflareObject_set_trace(PyObject* self, PyObject* value, void* closure);

extern const char Cloudflare_doc[];

// Methods. Each reads its arguments by position or by the parameter names of
// its doc string's first line (the __text_signature__ form help() and
// inspect.signature read).
PyObject* Cloudflare_fib(PyObject* self, PyObject* args, PyObject* kwargs);
inline constexpr char Cloudflare_fib_doc[] =
    "fib($self, /, n)\n--\n\n"
    "The n-th Fibonacci number modulo 2**64; n is taken modulo 2**64.";

PyObject* Cloudflare_fputs(PyObject* self, PyObject* args, PyObject* kwargs);
inline constexpr char Cloudflare_fputs_doc[] =
    "fputs($self, /, path, text)\n--\n\n"
    "Write text (UTF-8) into the file at path, created or emptied first.\n"
    "A non-negative number when the whole text reached the file, -1 when it did not;\n"
    "OSError when the file cannot be opened.";

PyObject* Cloudflare_get(PyObject* self, PyObject* args, PyObject* kwargs);
inline constexpr char Cloudflare_get_doc[] =
    "get($self, /, path='/zones?page=1&per_page=20&order=status&direction=desc&match=all')\n--\n\n"
    "GET of api_url followed by path. Returns (status, body).";

PyObject* Cloudflare_query(PyObject* self, PyObject* args, PyObject* kwargs);
inline constexpr char Cloudflare_query_doc[] =
    "query($self, /, domain)\n--\n\n"
    "Look up the zone of domain and remember it in zone and zone_id.\n"
    "Returns (status, body) of the zone listing.";

PyObject* Cloudflare_get_dns_records(PyObject* self, PyObject* args, PyObject* kwargs);
inline constexpr char Cloudflare_get_dns_records_doc[] =
    "dns_get_records($self, /, domain=None, type=..., name=..., content=...)\n--\n\n"
    "List one page of the DNS records of domain's zone (the remembered zone when\n"
    "domain is None; another domain is looked up first), filtered by type, name\n"
    "and content where given. Returns (status, body).";

PyObject* Cloudflare_create_dns_record(PyObject* self, PyObject* args, PyObject* kwargs);
inline constexpr char Cloudflare_create_dns_record_doc[] =
    "dns_create_record($self, /, type, name, content, proxied, ttl)\n--\n\n"
    "Create a DNS record in the remembered zone. Returns (status, body).";

PyObject* Cloudflare_delete_dns_record(PyObject* self, PyObject* args, PyObject* kwargs);
inline constexpr char Cloudflare_delete_dns_record_doc[] =
    "dns_delete_record($self, /, record_id)\n--\n\n"
    "Delete a DNS record of the remembered zone. Returns (status, body).";

PyObject* Cloudflare_update_dns_record(PyObject* self, PyObject* args, PyObject* kwargs);
inline constexpr char Cloudflare_update_dns_record_doc[] =
    "dns_update_record($self, /, record_id, type, name, content, proxied, ttl)\n--\n\n"
    "Replace a DNS record of the remembered zone. Returns (status, body).";

PyObject* Cloudflare_ensure_dns_record(PyObject* self, PyObject* args, PyObject* kwargs);
inline constexpr char Cloudflare_ensure_dns_record_doc[] =
    "dns_ensured_record($self, /, domain, type, name, content, proxied, ttl, present=True, replace=True)\n--\n\n"
    "Bring one DNS record of domain's zone into the wanted state: create, update\n"
    "or delete as needed. Returns the listing's (status, body) when nothing was\n"
    "written, the last write's otherwise, or (\"404\", message) when present is\n"
    "false and there is no such record.";

PyObject* Cloudflare_change_always_use_https(PyObject* self, PyObject* args, PyObject* kwargs);
inline constexpr char Cloudflare_change_always_use_https_doc[] =
    "change_always_use_https($self, /, value)\n--\n\n"
    "Set the remembered zone's always_use_https setting (\"on\" or \"off\"). Returns (status, body).";

PyObject* Cloudflare_change_automatic_https_rewrites(PyObject* self, PyObject* args, PyObject* kwargs);
inline constexpr char Cloudflare_change_automatic_https_rewrites_doc[] =
    "change_automatic_https_rewrites($self, /, value)\n--\n\n"
    "Set the remembered zone's automatic_https_rewrites setting (\"on\" or \"off\"). Returns (status, body).";

PyObject* Cloudflare_change_ssl_model(PyObject* self, PyObject* args, PyObject* kwargs);
inline constexpr char Cloudflare_change_ssl_model_doc[] =
    "change_ssl_model($self, /, value)\n--\n\n"
    "Set the remembered zone's SSL mode (\"off\", \"flexible\", \"full\" or \"strict\"). Returns (status, body).";

PyObject* Cloudflare_purge_cache(PyObject* self, PyObject* args, PyObject* kwargs);
inline constexpr char Cloudflare_purge_cache_doc[] =
    "purge_cache($self, /)\n--\n\n"
    "Purge the whole cache of the remembered zone. Returns (status, body).";
