// The Cloudflare class: instance layout and every function the type's tables point to.
#pragma once

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
};

inline CloudflareObject* as_cloudflare(PyObject* self) { return reinterpret_cast<CloudflareObject*>(self); }

// Object and lifecycle
PyObject* Cloudflare_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);
int Cloudflare_init(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* CloudflareObject_get_zone(PyObject* self, void* closure);
PyObject* CloudflareObject_get_zone_id(PyObject* self, void* closure);
int CloudflareObject_set_zone(PyObject* self, PyObject* value, void* closure);
int CloudflareObject_set_zone_id(PyObject* self, PyObject* value, void* closure);

// Methods: each reads only the positional tuple; keywords are accepted and ignored.
PyObject* Cloudflare_fib(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* Cloudflare_fputs(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* Cloudflare_get(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* Cloudflare_query(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* Cloudflare_get_dns_records(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* Cloudflare_create_dns_record(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* Cloudflare_delete_dns_record(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* Cloudflare_update_dns_record(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* Cloudflare_ensure_dns_record(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* Cloudflare_change_always_use_https(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* Cloudflare_change_automatic_https_rewrites(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* Cloudflare_change_ssl_model(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* Cloudflare_purge_cache(PyObject* self, PyObject* args, PyObject* kwargs);
