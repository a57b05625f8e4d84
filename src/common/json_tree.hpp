// Owning json-c trees and the builders the request bodies need. Plain json-c:
// a null result means json-c could not allocate.
#pragma once

#include <json-c/json.h>

#include <memory>
#include <string_view>

struct JsonPut {
    void operator()(json_object* object) const noexcept { json_object_put(object); }
};
using JsonPtr = std::unique_ptr<json_object, JsonPut>;

// A JSON string of exactly these bytes; null also for a text longer than
// json-c's int lengths.
JsonPtr json_text(std::string_view text);

// Adds `value` under `key` or to the end of `array`, taking it over in every
// case. False when `value` is null or json-c cannot add it.
bool add_member(json_object* object, const char* key, JsonPtr value);
bool add_item(json_object* array, JsonPtr value);

// {key: value}, taking `value` over; null when `value` is null or json-c cannot allocate.
JsonPtr one_member_object(const char* key, JsonPtr value);
