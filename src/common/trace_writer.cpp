#include "common/trace_writer.hpp"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "common/interp.hpp"

namespace {

// Keeps an exception that is already set out of the write's way and puts it back after.
class SavedError {
public:
#if PY_VERSION_HEX >= 0x030C0000
    SavedError() noexcept : raised_(PyErr_GetRaisedException()) {}
    ~SavedError() { PyErr_SetRaisedException(raised_); }
#else
    SavedError() noexcept { PyErr_Fetch(&type_, &raised_, &traceback_); }
    ~SavedError() { PyErr_Restore(type_, raised_, traceback_); }
#endif
    SavedError(const SavedError&) = delete;
    SavedError& operator=(const SavedError&) = delete;

private:
#if PY_VERSION_HEX < 0x030C0000
    PyObject* type_ = nullptr;
    PyObject* traceback_ = nullptr;
#endif
    PyObject* raised_ = nullptr;
};

}  // namespace

void write_trace(std::string_view text) {
    const SavedError saved;
    PyObject* out = PySys_GetObject("stdout");  // borrowed
    if (out == nullptr || out == Py_None) return;
    // Bytes that are not UTF-8 (a listed value, a reply) show as U+FFFD.
    qov::Ref line = qov::Ref::steal(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
    if (line) {
        // Held while write runs: a write that replaces sys.stdout must not free it under us.
        qov::Ref stream = qov::Ref::borrow(out);
        qov::Ref written = qov::Ref::steal(PyObject_CallMethod(stream.get(), "write", "O", line.get()));
    }
    PyErr_Clear();  // a failed trace never fails the request
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
