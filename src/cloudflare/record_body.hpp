// The JSON body of a created or updated DNS record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct RecordFields {
    std::string_view type;
    std::string_view name;
    std::string_view content;
    bool proxied = false;
    std::int32_t ttl = 1;
};

// Members in the order content, priority (type "MX" only, split out of the
// content), name, proxied (types "A", "AAAA" and "CNAME" only), type, ttl.
// Raises MemoryError when json-c cannot allocate.
std::optional<std::string> record_body(const RecordFields& record);
