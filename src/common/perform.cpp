#include "common/perform.hpp"

#include "common/interp.hpp"
#include "common/trace_writer.hpp"

namespace {

// Python runs signal handlers on the main thread only; another thread must not
// take the lock back every quarter of a second for nothing. Before `threading`
// is imported no other thread can ask, unless started through `_thread`, where
// the check is merely a no-op.
bool on_main_thread() {
    PyObject* threading = PyDict_GetItemString(PyImport_GetModuleDict(), "threading");  // borrowed
    if (threading == nullptr) return true;
    qov::Ref main = qov::Ref::steal(PyObject_CallMethod(threading, "main_thread", nullptr));
    qov::Ref ident = main ? qov::Ref::steal(PyObject_GetAttrString(main.get(), "ident")) : qov::Ref();
    if (!ident) {
        PyErr_Clear();  // a replaced or half-torn-down threading module: no checks
        return false;
    }
    const unsigned long main_ident = PyLong_AsUnsignedLong(ident.get());
    if (PyErr_Occurred()) {
        PyErr_Clear();
        return false;
    }
    return main_ident == PyThread_get_thread_ident();
}

// Runs with the lock released, from inside the transfer: takes the lock, runs
// any pending signal handlers and reports whether one raised. The exception
// stays set in this thread's state for when the lock is back for good.
bool signal_handler_raised() {
    const PyGILState_STATE state = PyGILState_Ensure();
    const bool raised = PyErr_CheckSignals() != 0;
    PyGILState_Release(state);
    return raised;
}

}  // namespace

namespace qov {

std::optional<HttpResult> perform(const HttpRequest& request) {
    for (const std::string& line : request_trace_lines(request)) write_trace(line);
    const InterruptCheck check = on_main_thread() ? InterruptCheck(signal_handler_raised) : InterruptCheck();
    HttpResult result;
    {
        AllowThreads unlocked;
        result = http_request(request, check);
    }
    if (result.interrupted) return std::nullopt;
    return result;
}

}  // namespace qov
