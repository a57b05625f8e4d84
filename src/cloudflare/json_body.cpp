#include "cloudflare/json_body.hpp"

std::optional<std::string> body_text(const JsonPtr& tree) {
    // The text belongs to the tree, so it is copied out.
    const char* text =
        tree ? json_object_to_json_string_ext(tree.get(), JSON_C_TO_STRING_SPACED | JSON_C_TO_STRING_PRETTY) : nullptr;
    if (text == nullptr) {
        PyErr_NoMemory();
        return std::nullopt;
    }
    return std::string(text);
}
