// Whether a text stays one segment of a URL path, so an id cannot change
// which resource a path addresses.
#pragma once

#include <string_view>

// True when `segment` has no "/", "?", "#", "%", backslash, whitespace or
// control character, and is not "." or "..". The empty segment passes.
bool is_single_path_segment(std::string_view segment);
