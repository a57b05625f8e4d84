#include "cloudflare/zone_errors.hpp"

#include <cstring>

#include "cloudflare/call_snapshot.hpp"
#include "common/call_scope.hpp"

namespace {

// The module's class, or the built-in one it derives from outside a call.
PyObject* class_or(PyObject* qov::ModuleClasses::*member, PyObject* fallback) {
    const qov::CallScope* call = qov::CallScope::current();
    if (call == nullptr || call->classes() == nullptr || call->classes()->*member == nullptr) return fallback;
    return call->classes()->*member;
}

// The ZoneLookupError behind the exception set now: itself, or its cause.
qov::Ref lookup_error_behind(PyObject* raised) {
    PyObject* lookup = class_or(&qov::ModuleClasses::zone_lookup, nullptr);
    if (raised == nullptr || lookup == nullptr) return {};
    if (PyObject_TypeCheck(raised, reinterpret_cast<PyTypeObject*>(lookup))) return qov::Ref::borrow(raised);
    qov::Ref cause = qov::Ref::steal(PyException_GetCause(raised));
    if (cause && PyObject_TypeCheck(cause.get(), reinterpret_cast<PyTypeObject*>(lookup))) return cause;
    return {};
}

}  // namespace

std::nullptr_t raise_no_zone() {
    return qov::raise(class_or(&qov::ModuleClasses::no_zone, PyExc_TypeError),
                      "Zone id is null, please query domain first.");
}

std::nullptr_t raise_zone_not_found(const char* domain) {
    PyObject* type = class_or(&qov::ModuleClasses::zone_not_found, PyExc_TypeError);
    qov::Ref cause;
    if (PyErr_Occurred()) {
        const qov::Ref raised = qov::take_exception();
        cause = lookup_error_behind(raised.get());
    }
    qov::Ref message = qov::Ref::steal(domain != nullptr ? PyUnicode_FromFormat("Domain not found: %s", domain)
                                                         : PyUnicode_FromString("Domain not found!"));
    if (!message) return nullptr;
    qov::Ref error = qov::Ref::steal(PyObject_CallOneArg(type, message.get()));
    if (!error) return nullptr;
    if (cause) PyException_SetCause(error.get(), cause.release());  // also sets __suppress_context__
    PyErr_SetObject(type, error.get());
    return nullptr;
}

std::nullptr_t raise_zone_lookup_error(const char* message, const char* domain, const HttpResult& answer) {
    PyObject* type = class_or(&qov::ModuleClasses::zone_lookup, PyExc_Exception);
    qov::Ref text = qov::Ref::steal(PyUnicode_DecodeUTF8(message, static_cast<Py_ssize_t>(std::strlen(message)), "strict"));
    if (!text) return nullptr;
    qov::Ref error = qov::Ref::steal(PyObject_CallOneArg(type, text.get()));
    if (!error) return nullptr;
    if (type != PyExc_Exception) {
        qov::Ref name = qov::Ref::steal(PyUnicode_FromString(domain));
        qov::Ref status = qov::Ref::steal(PyLong_FromLong(shown_status(answer)));
        qov::Ref body = qov::lenient_str(answer.body);
        if (!name || !status || !body || PyObject_SetAttrString(error.get(), "domain", name.get()) < 0 ||
            PyObject_SetAttrString(error.get(), "status", status.get()) < 0 ||
            PyObject_SetAttrString(error.get(), "body", body.get()) < 0) {
            return nullptr;
        }
    }
    PyErr_SetObject(type, error.get());
    return nullptr;
}
