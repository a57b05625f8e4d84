#include "dingtalk/dingtalk.hpp"

#include "common/limit_values.hpp"
#include "common/trace_writer.hpp"

// The signature line is for inspect.signature and help(); __doc__ is the rest.
const char DingTalk_doc[] =
    "DingTalk(token='', secret='', timeout=" QOV_TEXT(QOV_DEFAULT_TIMEOUT_SECONDS)
    ", per_minute=" QOV_TEXT(QOV_DEFAULT_PER_MINUTE) ", *, trace=True)\n--\n\n"
    "DingTalk(token, salt) -> DingTalk \n\n DingTalk Object\n\n";

PyObject* DingTalk_new(PyTypeObject* type, PyObject*, PyObject*) {
    qov::Ref instance = qov::Ref::steal(type->tp_alloc(type, 0));
    if (!instance) return nullptr;
    DingTalkObject* self = as_dingtalk(instance.get());
    for (PyObject** field : {&self->token, &self->secret}) {
        *field = PyUnicode_FromString("");
        if (*field == nullptr) return nullptr;  // dealloc releases the field already set
    }
    self->trace = Py_NewRef(Py_True);
    self->limits = DingTalkLimits{};
    return instance.release();
}

int DingTalk_init(PyObject* object, PyObject* args, PyObject* kwargs) {
    static const char* kwlist[] = {"token", "secret", "timeout", "per_minute", "trace", nullptr};
    PyObject *token = nullptr, *secret = nullptr, *timeout = nullptr, *per_minute = nullptr, *trace = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|UUOO$O", const_cast<char**>(kwlist), &token, &secret, &timeout,
                                     &per_minute, &trace)) {
        return -1;
    }
    // Checked before any field changes, so a failure leaves the instance as it was.
    DingTalkObject* self = as_dingtalk(object);
    DingTalkLimits limits = self->limits;
    if (timeout != nullptr && qov::set_seconds(limits.timeout, timeout, "timeout") < 0) return -1;
    if (per_minute != nullptr && qov::set_count(limits.per_minute, per_minute, "per_minute") < 0) return -1;
    if (trace != nullptr && check_trace_setting(trace) < 0) return -1;
    self->limits = limits;
    if (token != nullptr) qov::replace_field(self->token, qov::Ref::borrow(token));
    if (secret != nullptr) qov::replace_field(self->secret, qov::Ref::borrow(secret));
    if (trace != nullptr) qov::replace_field(self->trace, qov::Ref::borrow(trace));
    return 0;
}

PyObject* DingTalkObject_get_timeout(PyObject* self, void*) {
    return PyFloat_FromDouble(as_dingtalk(self)->limits.timeout);
}

int DingTalkObject_set_timeout(PyObject* self, PyObject* value, void*) {
    return qov::set_seconds(as_dingtalk(self)->limits.timeout, value, "timeout");
}

PyObject* DingTalkObject_get_per_minute(PyObject* self, void*) {
    return PyLong_FromLong(as_dingtalk(self)->limits.per_minute);
}

int DingTalkObject_set_per_minute(PyObject* self, PyObject* value, void*) {
    return qov::set_count(as_dingtalk(self)->limits.per_minute, value, "per_minute");
}

PyObject* DingTalkObject_get_trace(PyObject* self, void*) { return get_trace(as_dingtalk(self)->trace); }

int DingTalkObject_set_trace(PyObject* self, PyObject* value, void*) {
    return set_trace(as_dingtalk(self)->trace, value);
}
