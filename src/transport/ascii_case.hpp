#pragma once

#include <string_view>

// Whether `a` and `b` are equal when ASCII capitals count as small letters,
// as header names and HTTP methods compare.
bool ascii_iequals(std::string_view a, std::string_view b);

// A blank or a tab: what surrounds a header value and starts a folded line.
inline bool is_blank(char c) { return c == ' ' || c == '\t'; }

// `text` without the blanks and tabs at either end, as header values are read.
std::string_view trim_blanks(std::string_view text);
