// Interpreter helpers shared by every room: an owning reference, a scoped
// release of the interpreter lock, and text conversions that raise on failure.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>
#include <string>
#include <utility>

// The text of a macro's value, for signature lines made from the defaults themselves.
#define QOV_TEXT(value) QOV_TEXT_OF(value)
#define QOV_TEXT_OF(value) #value

namespace qov {

// The C signature of every method of the module's types.
using MethodFunction = PyObject* (*)(PyObject*, PyObject*, PyObject*);

// Owns one strong reference and releases it when it goes out of scope.
class Ref {
public:
    Ref() noexcept = default;
    static Ref steal(PyObject* p) noexcept { return Ref(p); }
    static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return Ref(p);
    }
    Ref(Ref&& other) noexcept : p_(other.release()) {}
    Ref& operator=(Ref&& other) noexcept {
        Ref(std::move(other)).swap(*this);
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const noexcept { return p_; }
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }  // hand it on
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void swap(Ref& other) noexcept { std::swap(p_, other.p_); }

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

// Stores a new value in an owned object field and releases the old one last,
// so a destructor that runs on release never sees a half-updated field.
inline void replace_field(PyObject*& field, Ref value) noexcept {
    Ref old = Ref::steal(std::exchange(field, value.release()));
}

// Releases the interpreter lock for its lifetime. Nothing inside the scope may
// touch an interpreter object.
class AllowThreads {
public:
    AllowThreads() noexcept : state_(PyEval_SaveThread()) {}
    // Not noexcept: a daemon thread that comes back after the interpreter began
    // shutting down is ended by pthread_exit inside PyEval_RestoreThread, and the
    // forced unwind it starts must pass through here (noexcept would abort).
    ~AllowThreads() noexcept(false) { PyEval_RestoreThread(state_); }
    AllowThreads(const AllowThreads&) = delete;
    AllowThreads& operator=(const AllowThreads&) = delete;

private:
    PyThreadState* state_;
};

// Raises `type` with `message`; returns nullptr so callers can `return raise(...)`.
std::nullptr_t raise(PyObject* type, const char* message);

// UTF-8 copy of a str object (strict). Raises TypeError naming `what` when the
// object is missing or not a str, and the encoding error when it has no UTF-8 form.
std::optional<std::string> utf8_of_str(PyObject* object, const char* what);

// UTF-8 copy of the str() form of any object (strict). Raises AttributeError
// naming `what` when the field is missing (a deleted member).
std::optional<std::string> utf8_of_str_form(PyObject* object, const char* what);

// The exception set now, normalised, with its traceback attached; clears it.
// Empty when none is set.
Ref take_exception() noexcept;

// Sets `exception` (from take_exception) as the current one again.
void restore_exception(Ref exception) noexcept;

// A new str decoded from bytes that should be UTF-8; invalid bytes become U+FFFD.
Ref lenient_str(const std::string& bytes);

}  // namespace qov
