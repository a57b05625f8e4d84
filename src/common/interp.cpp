#include "common/interp.hpp"

namespace qov {

std::nullptr_t raise(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    return nullptr;
}

std::optional<std::string> utf8_of_str(PyObject* object, const char* what) {
    if (object == nullptr || !PyUnicode_Check(object)) {
        PyErr_Format(PyExc_TypeError, "%s should be a str, not %s", what,
                     object ? Py_TYPE(object)->tp_name : "a deleted attribute");
        return std::nullopt;
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(object, &size);
    if (text == nullptr) return std::nullopt;
    return std::string(text, static_cast<size_t>(size));
}

std::optional<std::string> utf8_of_str_form(PyObject* object, const char* what) {
    if (object == nullptr) {
        PyErr_Format(PyExc_AttributeError, "%s has been deleted", what);
        return std::nullopt;
    }
    Ref form = Ref::steal(PyObject_Str(object));
    if (!form) return std::nullopt;
    Ref encoded = Ref::steal(PyUnicode_AsEncodedString(form.get(), "utf-8", "strict"));
    if (!encoded) return std::nullopt;
    return std::string(PyBytes_AS_STRING(encoded.get()), static_cast<size_t>(PyBytes_GET_SIZE(encoded.get())));
}

Ref take_exception() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    return Ref::steal(PyErr_GetRaisedException());
#else
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value != nullptr && traceback != nullptr) PyException_SetTraceback(value, traceback);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return Ref::steal(value);
#endif
}

void restore_exception(Ref exception) noexcept {
    if (!exception) return;
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exception.release());
#else
    PyObject* type = Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exception.get())));
    PyObject* traceback = PyException_GetTraceback(exception.get());
    PyErr_Restore(type, exception.release(), traceback);
#endif
}

Ref lenient_str(const std::string& bytes) {
    return Ref::steal(PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "replace"));
}

}  // namespace qov
