#include "common/json_tree.hpp"

#include <climits>
#include <utility>

JsonPtr json_text(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(INT_MAX)) return {};
    return JsonPtr(json_object_new_string_len(text.data(), static_cast<int>(text.size())));
}

// json-c keeps the value only when the add succeeds; otherwise `value` frees it.
bool add_member(json_object* object, const char* key, JsonPtr value) {
    if (!value || json_object_object_add(object, key, value.get()) != 0) return false;
    (void)value.release();
    return true;
}

bool add_item(json_object* array, JsonPtr value) {
    if (!value || json_object_array_add(array, value.get()) != 0) return false;
    (void)value.release();
    return true;
}

JsonPtr one_member_object(const char* key, JsonPtr value) {
    JsonPtr object(json_object_new_object());
    if (!object || !add_member(object.get(), key, std::move(value))) return {};
    return object;
}
