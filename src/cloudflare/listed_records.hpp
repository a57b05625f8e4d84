// The records of a zone as the service lists them, for the reconciliation scan.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cloudflare/cloudflare.hpp"
#include "common/json_tree.hpp"

struct ListedRecord {
    std::string id;
    std::string name;
    std::string type;
    std::string content;
    bool proxied = false;
    std::int32_t priority = 0;
    std::size_t page = 0;  // index of the response that listed it
};

struct Listing {
    std::vector<qov::Ref> responses;  // the (status, body) tuple of each page, the first page first
    std::vector<ListedRecord> records;  // in listing order; records without text id/name/type/content, or
                                        // with an id that is not one path segment, left out
    std::size_t listed = 0;             // elements of every "result" array, usable or not
    qov::Ref unscannable;               // a response whose body has no "result" array: returned unchanged
};

// Reads the first page's response and fetches the remaining pages that its
// "result_info" announces. Returns false with an exception set on failure.
bool read_whole_listing(CloudflareObject* self, qov::Ref first_page, Listing& listing);
