#include "common/trace_writer.hpp"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "common/call_scope.hpp"

namespace {

// Whether `value` is a logging.Logger. The logging module is only looked up
// among the imported ones: a script that holds a logger has imported it, and
// `import qov` stays free of it.
int is_logger(PyObject* value) {
    PyObject* logging = PyDict_GetItemString(PyImport_GetModuleDict(), "logging");  // borrowed
    if (logging == nullptr) return 0;
    qov::Ref logger_type = qov::Ref::steal(PyObject_GetAttrString(logging, "Logger"));
    if (!logger_type) {
        PyErr_Clear();
        return 0;
    }
    return PyObject_IsInstance(value, logger_type.get());
}

// logging.DEBUG and logging.WARNING, whose values the logging module fixes.
constexpr int kDebugLevel = 10;
constexpr int kWarningLevel = 30;

// The write calls Python code, which may release the interpreter lock; a
// daemon thread that wants it back while the interpreter shuts down is ended
// there by a forced unwind, which runs the destructors of the frames it
// leaves, without the lock. So the references held across the call are plain
// pointers, released only when the call returns: an unwinding thread leaves
// them as they are.
void write_to(PyObject* target, std::string_view text, TraceLevel level) {
    const int logger = is_logger(target);
    if (logger < 0) return;
    if (logger && !text.empty() && text.back() == '\n') text.remove_suffix(1);
    // Bytes that are not UTF-8 (a listed value, a reply) show as U+FFFD.
    PyObject* line = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    if (line == nullptr) return;
    const int number = level == TraceLevel::wait ? kWarningLevel : kDebugLevel;
    PyObject* done = logger ? PyObject_CallMethod(target, "log", "iO", number, line)
                            : PyObject_CallMethod(target, "write", "O", line);
    Py_XDECREF(done);
    Py_DECREF(line);
}

}  // namespace

void write_trace(std::string_view text, TraceLevel level) {
    qov::CallScope* call = qov::CallScope::current();
    if (call != nullptr && call->has_kept_interrupt()) return;  // the call is ending
    PyObject* setting = call != nullptr ? call->trace() : Py_True;  // borrowed
    if (setting == nullptr || setting == Py_False || setting == Py_None) return;
    // An exception already set stays out of the write's way and is set again
    // after; held as a plain pointer for the reason given at write_to.
    PyObject* const saved = qov::take_exception().release();
    // Held while the write runs: a write that replaces sys.stdout or the
    // object's trace setting must not free the destination under us.
    PyObject* const target = Py_XNewRef(setting == Py_True ? PySys_GetObject("stdout") : setting);
    if (target != nullptr && target != Py_None) write_to(target, text, level);
    Py_XDECREF(target);
    // A failed trace never fails the request; an interrupt ends the call.
    if (PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_Exception) && call != nullptr) {
        call->keep_interrupt();
    }
    PyErr_Clear();
    qov::restore_exception(qov::Ref::steal(saved));
}

int debug(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length >= 0) {
        std::string text(static_cast<std::size_t>(length) + 1, '\0');
        std::vsnprintf(text.data(), text.size(), format, again);
        text.pop_back();
        write_trace(text);
    }
    va_end(again);
    return length;
}

int check_trace_setting(PyObject* value) {
    if (value == Py_True || value == Py_False || value == Py_None) return 0;
    const int logger = is_logger(value);
    if (logger != 0) return logger < 0 ? -1 : 0;
    const int writes = PyObject_HasAttrString(value, "write");
    if (writes) return 0;
    PyErr_Format(PyExc_TypeError, "trace should be True, False, None, a text stream or a logging.Logger, not %s",
                 Py_TYPE(value)->tp_name);
    return -1;
}

PyObject* get_trace(PyObject* field) { return Py_NewRef(field != nullptr ? field : Py_True); }

int set_trace(PyObject*& field, PyObject* value) {
    if (value == nullptr) {
        PyErr_SetString(PyExc_TypeError, "trace cannot be deleted");
        return -1;
    }
    if (check_trace_setting(value) < 0) return -1;
    qov::replace_field(field, qov::Ref::borrow(value));
    return 0;
}
