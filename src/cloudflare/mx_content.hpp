// An MX content names a host and a priority joined by "|", such as "mail.example.com|20".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct MxContent {
    std::string host;             // the first non-empty piece; the whole text when there is none
    std::int32_t priority = 10;   // the second piece read as strtol does; 10 when there is none
};

// Cuts at every "|", dropping empty pieces; pieces after the second are ignored.
MxContent split_mx_content(std::string_view content);
