#include "cloudflare/listed_records.hpp"

#include <algorithm>
#include <optional>

#include "cloudflare/path_segment.hpp"
#include "common/json_tree.hpp"

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

// Pages announced by "result_info": "total_pages", or else "total_count" over
// "per_page", rounded up. Divided before anything is added, so no count the
// answer can hold overflows.
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
    const std::int64_t pages = count / size + (count % size != 0 ? 1 : 0);
    return std::min(kMaxPages, pages);
}

std::optional<ListedRecord> usable_record(json_object* item) {
    auto id = member_text(item, "id");
    auto name = member_text(item, "name");
    auto type = member_text(item, "type");
    auto content = member_text(item, "content");
    // A record whose id is no single, non-empty path segment cannot be
    // deleted or updated: it is left out like one without an id.
    if (!id || id->empty() || !is_single_path_segment(*id) || !name || !type || !content) return std::nullopt;
    return ListedRecord{std::move(*id), std::move(*name), std::move(*type), std::move(*content),
                        static_cast<bool>(json_object_get_boolean(member(item, "proxied"))),
                        json_object_get_int(member(item, "priority"))};
}

}  // namespace

ListingPage read_listing_page(const char* body) {
    ListingPage page;
    JsonPtr root(json_tokener_parse(body));
    json_object* result = root ? member(root.get(), "result") : nullptr;
    if (result == nullptr || !json_object_is_type(result, json_type_array)) return page;

    page.scannable = true;
    page.listed = json_object_array_length(result);
    for (std::size_t i = 0; i < page.listed; ++i) {
        if (std::optional<ListedRecord> record = usable_record(json_object_array_get_idx(result, i))) {
            page.records.push_back(std::move(*record));
        }
    }
    page.announced_pages = announced_pages(root.get());
    return page;
}
