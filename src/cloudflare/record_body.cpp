#include "cloudflare/record_body.hpp"

#include <climits>

#include "cloudflare/json_body.hpp"
#include "cloudflare/mx_content.hpp"

namespace {

// json-c takes the length as an int; a longer text reads as a failed allocation.
json_object* json_text(std::string_view text) {
    if (text.size() > INT_MAX) return nullptr;
    return json_object_new_string_len(text.data(), static_cast<int>(text.size()));
}

}  // namespace

std::optional<std::string> record_body(const RecordFields& record) {
    JsonPtr body = new_json_object();
    if (!body) return std::nullopt;
    // Type tests are exact: "mx" or "a" are sent as any other type.
    if (record.type == "MX") {
        const MxContent mx = split_mx_content(record.content);
        if (!add_member(body.get(), "content", json_text(mx.host)) ||
            !add_member(body.get(), "priority", json_object_new_int(mx.priority))) {
            return std::nullopt;
        }
    } else if (!add_member(body.get(), "content", json_text(record.content))) {
        return std::nullopt;
    }
    if (!add_member(body.get(), "name", json_text(record.name))) return std::nullopt;
    if (record.type == "A" || record.type == "CNAME") {
        if (!add_member(body.get(), "proxied", json_object_new_boolean(record.proxied))) return std::nullopt;
    }
    if (!add_member(body.get(), "type", json_text(record.type)) ||
        !add_member(body.get(), "ttl", json_object_new_int(record.ttl))) {
        return std::nullopt;
    }
    return body_text(body.get());
}
