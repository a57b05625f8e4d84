// TXT contents as DNS character-strings. The service lists a TXT content in
// double quotes, and one longer than 255 bytes as several quoted strings
// ("part1" "part2"), while a script gives it as one text.
#pragma once

#include <string>
#include <string_view>

// For a content made of one or more double-quoted strings separated by
// blanks, the strings joined; anything else as it stands. Inside a string a
// backslash keeps the next character in the string (an escaped quote does not
// end it); escapes are kept as written.
std::string txt_value(std::string_view content);
