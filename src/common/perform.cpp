#include "common/perform.hpp"

#include <unistd.h>

#include <algorithm>
#include <thread>

#include "common/call_scope.hpp"
#include "common/interp.hpp"
#include "common/trace_writer.hpp"

namespace {

// Python runs signal handlers on the main thread of the main interpreter only;
// another thread must not take the lock back every quarter of a second for
// nothing. Sub-interpreters, which may have locks of their own, are answered
// first, so the statics below are used under the main interpreter's lock only.
// Before `threading` is imported no other thread can ask, unless started
// through `_thread`, where the check is merely a no-op. The main thread's
// identity is looked up once per process: only a fork() changes it (the
// forking thread becomes the child's).
bool on_main_thread() {
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) return false;
    PyObject* threading = PyDict_GetItemString(PyImport_GetModuleDict(), "threading");  // borrowed
    if (threading == nullptr) return true;
    static pid_t looked_up_in = 0;  // these two are used under the interpreter lock only
    static unsigned long main_ident = 0;
    if (const pid_t pid = getpid(); pid != looked_up_in) {
        qov::Ref main = qov::Ref::steal(PyObject_CallMethod(threading, "main_thread", nullptr));
        qov::Ref ident = main ? qov::Ref::steal(PyObject_GetAttrString(main.get(), "ident")) : qov::Ref();
        const unsigned long found = ident ? PyLong_AsUnsignedLong(ident.get()) : 0;
        if (PyErr_Occurred()) {
            PyErr_Clear();  // a replaced or half-torn-down threading module: no checks
            return false;
        }
        main_ident = found;
        looked_up_in = pid;
    }
    return main_ident == PyThread_get_thread_ident();
}

// Runs with the lock released, from inside the transfer: takes the lock back
// for `state` (this thread's own), runs any pending signal handlers and reports
// whether one raised. The exception stays set in this thread's state for when
// the lock is back for good.
bool signal_handler_raised(PyThreadState* state) {
    PyEval_RestoreThread(state);
    const bool raised = PyErr_CheckSignals() != 0;
    PyEval_SaveThread();
    return raised;
}

}  // namespace

namespace qov {

std::optional<HttpResult> perform(const HttpRequest& request) {
    for (const std::string& line : request_trace_lines(request)) write_trace(line);
    // Ctrl-C during a slow trace write raised inside the write, and one that
    // came as the write returned is only pending: either ends the call here,
    // as it would during the transfer.
    if (CallScope::raise_kept_interrupt()) return std::nullopt;
    const bool main_thread = on_main_thread();
    if (main_thread && PyErr_CheckSignals() != 0) return std::nullopt;
    PyThreadState* const state = PyThreadState_Get();
    const InterruptCheck check =
        main_thread ? InterruptCheck([state] { return signal_handler_raised(state); }) : InterruptCheck();
    HttpResult result;
    {
        AllowThreads unlocked;
        result = http_request(request, check);
    }
    if (result.interrupted) return std::nullopt;
    return result;
}

bool pause(std::chrono::nanoseconds wait) {
    using std::chrono::steady_clock;
    if (CallScope::raise_kept_interrupt()) return false;  // Ctrl-C during the wait's trace line
    const bool checks_signals = on_main_thread();
    const steady_clock::time_point until = steady_clock::now() + wait;
    for (;;) {
        const steady_clock::duration left = until - steady_clock::now();
        if (left <= steady_clock::duration::zero()) return true;
        {
            AllowThreads unlocked;
            std::this_thread::sleep_for(std::min<steady_clock::duration>(left, std::chrono::milliseconds{250}));
        }
        if (checks_signals && PyErr_CheckSignals() != 0) return false;
    }
}

}  // namespace qov
