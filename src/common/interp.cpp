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

Ref lenient_str(const std::string& bytes) {
    return Ref::steal(PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "replace"));
}

}  // namespace qov
