#pragma once

#include <string>

// Lower-cases the ASCII capitals of `text` in place; other bytes stay as they are.
std::string& strlwr(std::string& text);
