#include "cloudflare/listed_records.hpp"

#include <algorithm>
#include <optional>

#include "cloudflare/request.hpp"
#include "cloudflare/zone_path.hpp"

namespace {

// Bounds the pages fetched when a reply announces an absurd page count.
constexpr std::int64_t kMaxPages = 10000;

json_object* member(json_object* object, const char* key) {
    json_object* value = nullptr;
    return json_object_object_get_ex(object, key, &value) ? value : nullptr;
}

std::optional<std::string> member_text(json_object* object, const char* key) {
    json_object* value = member(object, key);
    if (value == nullptr || !json_object_is_type(value, json_type_string)) return std::nullopt;
    return std::string(json_object_get_string(value));
}

// Pages announced by "result_info": "total_pages", or else "total_count" over "per_page".
std::int64_t announced_pages(json_object* root) {
    json_object* info = member(root, "result_info");
    if (info == nullptr) return 1;
    if (json_object* total_pages = member(info, "total_pages")) {
        return std::clamp<std::int64_t>(json_object_get_int64(total_pages), 1, kMaxPages);
    }
    json_object* total_count = member(info, "total_count");
    json_object* per_page = member(info, "per_page");
    if (total_count == nullptr || per_page == nullptr) return 1;
    const std::int64_t count = json_object_get_int64(total_count);
    const std::int64_t size = json_object_get_int64(per_page);
    if (size <= 0 || count <= size) return 1;
    return std::min(kMaxPages, (count + size - 1) / size);
}

// Adds the records of the last response in `listing`. Returns the parsed root
// (null with no exception when the page has no "result" array, which makes the
// response unscannable).
JsonPtr add_last_page(Listing& listing) {
    const std::size_t page = listing.responses.size() - 1;
    const char* body = PyUnicode_AsUTF8(PyTuple_GET_ITEM(listing.responses[page].get(), 1));
    if (body == nullptr) return {};
    JsonPtr root(json_tokener_parse(body));
    json_object* result = root ? member(root.get(), "result") : nullptr;
    if (result == nullptr || !json_object_is_type(result, json_type_array)) return {};

    const std::size_t count = json_object_array_length(result);
    listing.listed += count;
    for (std::size_t i = 0; i < count; ++i) {
        json_object* item = json_object_array_get_idx(result, i);
        auto id = member_text(item, "id");
        auto name = member_text(item, "name");
        auto type = member_text(item, "type");
        auto content = member_text(item, "content");
        // A record whose id is no single, non-empty path segment cannot be
        // deleted or updated: it is left out like one without an id.
        if (!id || id->empty() || !is_single_path_segment(*id) || !name || !type || !content) continue;
        listing.records.push_back({std::move(*id), std::move(*name), std::move(*type), std::move(*content),
                                   static_cast<bool>(json_object_get_boolean(member(item, "proxied"))),
                                   json_object_get_int(member(item, "priority")), page});
    }
    return root;
}

}  // namespace

bool read_whole_listing(CloudflareObject* self, qov::Ref first_page, Listing& listing) {
    listing.responses.push_back(std::move(first_page));
    JsonPtr root = add_last_page(listing);
    if (!root) {
        if (PyErr_Occurred()) return false;
        listing.unscannable = std::move(listing.responses.back());
        return true;
    }
    const std::int64_t pages = announced_pages(root.get());
    for (std::int64_t page = 2; page <= pages; ++page) {
        std::optional<std::string> path = zone_scoped_path(self, "/dns_records?page=" + std::to_string(page));
        if (!path) return false;
        qov::Ref response = request("GET", self, path, std::nullopt);
        if (!response) return false;
        listing.responses.push_back(std::move(response));
        if (!add_last_page(listing)) {
            if (PyErr_Occurred()) return false;
            listing.unscannable = std::move(listing.responses.back());
            return true;
        }
    }
    return true;
}
