// qov.Response: the (status, body) result of every Cloudflare method, a tuple
// subclass (as os.stat_result is) that compares, unpacks, indexes and prints
// as the plain pair, with .status, .body, .ok, .json() and .action.
#pragma once

#include "common/interp.hpp"

extern PyType_Spec Response_spec;  // made with tuple as its base

// A new Response of the running call's module (a plain tuple outside a call),
// taking over `status` and `body`; `action` is what dns_ensured_record wrote,
// null for None. Null with the exception set when either is null or memory
// runs out.
qov::Ref make_response(qov::Ref status, qov::Ref body, const char* action = nullptr);
