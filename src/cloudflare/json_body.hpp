// Building and serialising the JSON bodies sent to the service.
#pragma once

#include <optional>
#include <string>

#include "cloudflare/json_ptr.hpp"
#include "common/interp.hpp"

// A new empty object; raises MemoryError when json-c cannot allocate.
JsonPtr new_json_object();

// Adds `value` under `key`, taking it over in every case. A null `value` is a
// failed json-c allocation: raises MemoryError, as does a failed insertion.
bool add_member(json_object* object, const char* key, json_object* value);

// The object pretty-printed (one member per line, two blanks of indentation,
// a blank after each colon, no final line feed), as every body to the service.
std::optional<std::string> body_text(json_object* object);
