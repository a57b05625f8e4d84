// Percent-encoding of a query value through libcurl.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Every byte but the unreserved characters as "%XX" (curl_easy_escape).
// nullopt when libcurl cannot allocate, or the text is longer than its int lengths.
std::optional<std::string> percent_encoded(std::string_view text);
