#pragma once

#include <string_view>

// Whether `a` and `b` are equal when ASCII capitals count as small letters,
// as header names and HTTP methods compare.
bool ascii_iequals(std::string_view a, std::string_view b);
