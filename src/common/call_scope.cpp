#include "common/call_scope.hpp"

namespace {

thread_local qov::CallScope* innermost = nullptr;

}  // namespace

namespace qov {

CallScope::CallScope(const ModuleClasses* classes, PyObject* const* trace) noexcept
    : classes_(classes), trace_(trace), outer_(innermost) {
    innermost = this;
}

CallScope::~CallScope() { innermost = outer_; }

CallScope* CallScope::current() noexcept { return innermost; }

void CallScope::keep_interrupt() noexcept {
    if (kept_ != nullptr) {
        PyErr_Clear();
        return;
    }
    kept_ = take_exception().release();
}

bool CallScope::raise_kept_interrupt() noexcept {
    CallScope* call = innermost;
    if (call == nullptr || call->kept_ == nullptr) return false;
    restore_exception(Ref::steal(std::exchange(call->kept_, nullptr)));
    return true;
}

PyObject* CallScope::finish(PyObject* result) noexcept {
    if (kept_ == nullptr) return result;
    Py_XDECREF(result);
    PyErr_Clear();  // the interrupt wins over whatever else the call raised
    restore_exception(Ref::steal(std::exchange(kept_, nullptr)));
    return nullptr;
}

}  // namespace qov
