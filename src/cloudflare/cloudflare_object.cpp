#include "cloudflare/cloudflare.hpp"

#include "common/limit_values.hpp"
#include "common/trace_writer.hpp"

// The signature line only, for inspect.signature and help(): the class has no
// __doc__ of its own (module.cpp keeps it None).
#define QOV_DEFAULT_API_URL "https://api.cloudflare.com/client/v4"
const char Cloudflare_doc[] =
    "Cloudflare(email='', account='', api_token='', proxy='', api_url='" QOV_DEFAULT_API_URL "', "
    "timeout=" QOV_TEXT(QOV_DEFAULT_TIMEOUT_SECONDS) ", max_retries=" QOV_TEXT(QOV_DEFAULT_MAX_RETRIES)
    ", *, trace=True)\n--\n\n";

namespace {

constexpr const char* kDefaultApiUrl = QOV_DEFAULT_API_URL;

void store_if_given(PyObject*& field, PyObject* given) {
    if (given != nullptr) qov::replace_field(field, qov::Ref::borrow(given));
}

// Reading an absent zone field stores "" so later reads see the same object.
PyObject* get_stored_or_empty(PyObject*& field) {
    if (field == nullptr) {
        qov::Ref empty = qov::Ref::steal(PyUnicode_FromString(""));
        if (!empty) return nullptr;
        field = empty.release();
    }
    return Py_NewRef(field);
}

int set_str_only(PyObject*& field, PyObject* value) {
    if (value == nullptr || !PyUnicode_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "value should be unicode");
        return -1;
    }
    qov::replace_field(field, qov::Ref::borrow(value));
    return 0;
}

}  // namespace

PyObject* Cloudflare_new(PyTypeObject* type, PyObject*, PyObject*) {
    qov::Ref instance = qov::Ref::steal(type->tp_alloc(type, 0));
    if (!instance) return nullptr;
    CloudflareObject* self = as_cloudflare(instance.get());
    for (PyObject** field : {&self->email, &self->account, &self->api_token, &self->api_url, &self->proxy}) {
        *field = PyUnicode_FromString("");
        if (*field == nullptr) return nullptr;  // dealloc releases the fields already set
    }
    self->trace = Py_NewRef(Py_True);
    self->limits = CloudflareLimits{};
    return instance.release();
}

int Cloudflare_init(PyObject* object, PyObject* args, PyObject* kwargs) {
    static const char* kwlist[] = {"email", "account", "api_token", "proxy", "api_url", "timeout", "max_retries",
                                   "trace", nullptr};
    PyObject *email = nullptr, *account = nullptr, *api_token = nullptr, *proxy = nullptr, *api_url = nullptr;
    PyObject *timeout = nullptr, *max_retries = nullptr, *trace = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|UUUUUOO$O", const_cast<char**>(kwlist), &email, &account,
                                     &api_token, &proxy, &api_url, &timeout, &max_retries, &trace)) {
        return -1;
    }
    // Checked and made before any field changes, so a failure leaves the instance as it was.
    CloudflareObject* self = as_cloudflare(object);
    CloudflareLimits limits = self->limits;
    if (timeout != nullptr && qov::set_seconds(limits.timeout, timeout, "timeout") < 0) return -1;
    if (max_retries != nullptr && qov::set_count(limits.max_retries, max_retries, "max_retries") < 0) return -1;
    if (trace != nullptr && check_trace_setting(trace) < 0) return -1;
    qov::Ref url = api_url ? qov::Ref::borrow(api_url) : qov::Ref::steal(PyUnicode_FromString(kDefaultApiUrl));
    if (!url) return -1;

    self->limits = limits;
    store_if_given(self->email, email);
    store_if_given(self->account, account);
    store_if_given(self->api_token, api_token);
    qov::replace_field(self->api_url, std::move(url));
    store_if_given(self->proxy, proxy);
    store_if_given(self->trace, trace);
    return 0;
}

PyObject* CloudflareObject_get_zone(PyObject* self, void*) { return get_stored_or_empty(as_cloudflare(self)->zone); }

PyObject* CloudflareObject_get_zone_id(PyObject* self, void*) {
    return get_stored_or_empty(as_cloudflare(self)->zone_id);
}

int CloudflareObject_set_zone(PyObject* self, PyObject* value, void*) {
    return set_str_only(as_cloudflare(self)->zone, value);
}

int CloudflareObject_set_zone_id(PyObject* self, PyObject* value, void*) {
    return set_str_only(as_cloudflare(self)->zone_id, value);
}

PyObject* CloudflareObject_get_timeout(PyObject* self, void*) {
    return PyFloat_FromDouble(as_cloudflare(self)->limits.timeout);
}

int CloudflareObject_set_timeout(PyObject* self, PyObject* value, void*) {
    return qov::set_seconds(as_cloudflare(self)->limits.timeout, value, "timeout");
}

PyObject* CloudflareObject_get_max_retries(PyObject* self, void*) {
    return PyLong_FromLong(as_cloudflare(self)->limits.max_retries);
}

int CloudflareObject_set_max_retries(PyObject* self, PyObject* value, void*) {
    return qov::set_count(as_cloudflare(self)->limits.max_retries, value, "max_retries");
}

PyObject* CloudflareObject_get_trace(PyObject* self, void*) { return get_trace(as_cloudflare(self)->trace); }

int CloudflareObject_set_trace(PyObject* self, PyObject* value, void*) {
    return set_trace(as_cloudflare(self)->trace, value);
}
