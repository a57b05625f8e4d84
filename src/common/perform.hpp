// Where a request crosses from the interpreter to the transport.
#pragma once

#include "transport/http_request.hpp"

namespace qov {

// Writes the request's trace lines with the interpreter lock held, then
// performs it with the lock released. Needs the lock; touches no interpreter
// object while it is released.
HttpResult perform(const HttpRequest& request);

}  // namespace qov
