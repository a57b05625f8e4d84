// Owning pointer for json-c trees.
#pragma once

#include <json-c/json.h>

#include <memory>

struct JsonPut {
    void operator()(json_object* object) const noexcept { json_object_put(object); }
};
using JsonPtr = std::unique_ptr<json_object, JsonPut>;
