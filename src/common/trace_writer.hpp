// The one writer of every trace line. Where the lines go is the calling
// object's `trace` setting: True (the default) writes to Python's sys.stdout,
// so the lines keep their place among the script's own output in a pipe or a
// log file, and contextlib.redirect_stdout and pytest's capture see them;
// False or None drops them; a text stream gets the same lines through its
// write(); a logging.Logger gets one record per line, without its line feed.
// Every destination gets the same text, masked before it reaches this writer.
#pragma once

#include <string_view>

#include "common/interp.hpp"

// A request line is a DEBUG record for a logger; a wait (a retry, a paced
// send) is a WARNING: the script slows down for a reason it may want to see.
enum class TraceLevel { request, wait };

// printf-style; no prefix, no line feed added. Needs the interpreter lock.
// Writes nothing when the destination is missing (sys.stdout None or
// deleted). Never raises and never disturbs an exception already set: a trace
// line that cannot be written is dropped. But an exception that is no
// Exception (KeyboardInterrupt from Ctrl-C during a slow write) is kept by the
// method's call scope, which ends the call with it (see call_scope.hpp).
// Returns the number of bytes formatted, or -1.
int debug(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes `text` as it stands, under the same rules.
void write_trace(std::string_view text, TraceLevel level = TraceLevel::request);

// Zero when `value` may be stored as a trace setting: True, False, None, an
// object with a write attribute, or a logging.Logger. Otherwise -1 with
// TypeError raised.
int check_trace_setting(PyObject* value);

// The trace getter and setter of both classes, over the object's field.
PyObject* get_trace(PyObject* field);
int set_trace(PyObject*& field, PyObject* value);

inline constexpr char kTraceDoc[] =
    "Where trace lines go: True, sys.stdout; False or None, nowhere; a text stream; or a logging.Logger "
    "(requests at DEBUG, waits at WARNING)";
