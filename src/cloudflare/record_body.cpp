#include "cloudflare/record_body.hpp"

#include "cloudflare/json_body.hpp"
#include "cloudflare/mx_content.hpp"

namespace {

// Null when json-c cannot allocate.
JsonPtr record_tree(const RecordFields& record) {
    JsonPtr body(json_object_new_object());
    if (!body) return {};
    json_object* members = body.get();
    bool built;
    // Type tests are exact: "mx" or "a" are sent as any other type.
    if (record.type == "MX") {
        const MxContent mx = split_mx_content(record.content);
        built = add_member(members, "content", json_text(mx.host)) &&
                add_member(members, "priority", JsonPtr(json_object_new_int(mx.priority)));
    } else {
        built = add_member(members, "content", json_text(record.content));
    }
    built = built && add_member(members, "name", json_text(record.name));
    // The service overwrites a record on PUT: an AAAA record without "proxied" would lose it.
    if (record.type == "A" || record.type == "AAAA" || record.type == "CNAME") {
        built = built && add_member(members, "proxied", JsonPtr(json_object_new_boolean(record.proxied)));
    }
    built = built && add_member(members, "type", json_text(record.type)) &&
            add_member(members, "ttl", JsonPtr(json_object_new_int(record.ttl)));
    if (!built) return {};
    return body;
}

}  // namespace

std::optional<std::string> record_body(const RecordFields& record) { return body_text(record_tree(record)); }
