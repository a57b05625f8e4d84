// Where a request crosses from the interpreter to the transport.
#pragma once

#include <chrono>
#include <optional>

#include "transport/http_request.hpp"

namespace qov {

// Writes the request's trace lines with the interpreter lock held, then
// performs it with the lock released. Needs the lock; touches no interpreter
// object while it is released, except that on the main thread it takes the
// lock back briefly every quarter of a second to run pending signal handlers
// (Ctrl-C). When a handler raises (KeyboardInterrupt), the transfer ends and
// the result is nullopt with that exception set, once the lock is back:
// callers return their error value at once. A handler that raised inside a
// trace write (a slow sys.stdout), or a signal still pending once the lines
// are written, ends the call the same way before the transfer starts.
std::optional<HttpResult> perform(const HttpRequest& request);

// Waits `wait` with the interpreter lock released. On the main thread pending
// signal handlers run every quarter of a second; when one raises
// (KeyboardInterrupt) the wait ends at once and the result is false with that
// exception set; so does one that raised inside the wait's trace line. Needs
// the lock.
bool pause(std::chrono::nanoseconds wait);

}  // namespace qov
