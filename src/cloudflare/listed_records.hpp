// One page of a zone's DNS record listing, read for the reconciliation scan.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ListedRecord {
    std::string id;
    std::string name;
    std::string type;
    std::string content;
    bool proxied = false;
    std::int32_t priority = 0;

    bool operator==(const ListedRecord&) const = default;
};

struct ListingPage {
    bool scannable = false;             // the body is JSON with a "result" array
    std::vector<ListedRecord> records;  // in listing order; left out: records without text id, name, type and
                                        // content, and those whose id is empty or not one path segment
    std::size_t listed = 0;             // elements of the "result" array, usable or not
    std::int64_t announced_pages = 1;   // from "result_info", at least 1 and at most 10,000
};

// Reads a listing page from its body text (UTF-8, NUL-terminated).
ListingPage read_listing_page(const char* body);
