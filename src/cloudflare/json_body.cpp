#include "cloudflare/json_body.hpp"

JsonPtr new_json_object() {
    JsonPtr object(json_object_new_object());
    if (!object) PyErr_NoMemory();
    return object;
}

bool add_member(json_object* object, const char* key, json_object* value) {
    JsonPtr owned(value);
    if (!owned) {
        PyErr_NoMemory();
        return false;
    }
    // json-c keeps the value only when the insertion succeeds.
    if (json_object_object_add(object, key, owned.get()) != 0) {
        PyErr_NoMemory();
        return false;
    }
    (void)owned.release();
    return true;
}

std::optional<std::string> body_text(json_object* object) {
    // The text belongs to the object, so it is copied out.
    const char* text = json_object_to_json_string_ext(object, JSON_C_TO_STRING_SPACED | JSON_C_TO_STRING_PRETTY);
    if (text == nullptr) {
        PyErr_NoMemory();
        return std::nullopt;
    }
    return std::string(text);
}
