// What a running method of ours knows about its call beyond its arguments:
// the classes of the module that defined it (for its results and
// exceptions), the object's trace setting, and an interrupt that a trace
// write caught. One scope per method call and thread, innermost first, so a
// trace stream that calls back into the module gets a scope of its own.
#pragma once

#include "common/interp.hpp"

namespace qov {

// The module's own classes, owned by its state; borrowed here for the call.
struct ModuleClasses {
    PyObject* error = nullptr;           // qov.Error
    PyObject* no_zone = nullptr;         // qov.NoZoneError
    PyObject* zone_not_found = nullptr;  // qov.ZoneNotFoundError
    PyObject* zone_lookup = nullptr;     // qov.ZoneLookupError
    PyTypeObject* response = nullptr;    // qov.Response
    PyTypeObject* robot_reply = nullptr; // qov.RobotReply
};

class CallScope {
public:
    // `trace` points to the object's trace field, read afresh at every write
    // (the object outlives the call: its caller holds it).
    CallScope(const ModuleClasses* classes, PyObject* const* trace) noexcept;
    // Only unlinks the scope: it may run in a forced unwind without the lock.
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

    // The innermost scope of this thread, or null outside every method call.
    static CallScope* current() noexcept;

    const ModuleClasses* classes() const noexcept { return classes_; }
    PyObject* trace() const noexcept { return *trace_; }  // borrowed

    // Keeps the exception set now (one a signal handler raised inside a trace
    // write) for the call to end with. A second one is dropped.
    void keep_interrupt() noexcept;
    bool has_kept_interrupt() const noexcept { return kept_ != nullptr; }

    // Sets the interrupt a trace write kept of the innermost call as the
    // current exception. True when there was one: the caller returns its
    // error value. Called before the lock is released, so no kept exception
    // lives while it is.
    static bool raise_kept_interrupt() noexcept;

    // The method's result, or null with the kept interrupt set when a trace
    // write caught one that nothing has raised yet.
    PyObject* finish(PyObject* result) noexcept;

private:
    const ModuleClasses* classes_;
    PyObject* const* trace_;
    PyObject* kept_ = nullptr;  // owned: the caught exception
    CallScope* outer_;
};

}  // namespace qov
