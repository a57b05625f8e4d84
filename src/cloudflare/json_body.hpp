// Serialising the JSON bodies sent to the service.
#pragma once

#include <optional>
#include <string>

#include "common/interp.hpp"
#include "common/json_tree.hpp"

// The tree pretty-printed (one member per line, two blanks of indentation, a
// blank after each colon, no final line feed), as every body to the service.
// A null tree (json-c could not build it) or a failed serialisation raises MemoryError.
std::optional<std::string> body_text(const JsonPtr& tree);
