// The one writer of every trace line: Python's sys.stdout, so the lines keep
// their place among the script's own output in a pipe or a log file, and
// contextlib.redirect_stdout and pytest's capture see them.
#pragma once

#include <string_view>

// printf-style; no prefix, no line feed added. Needs the interpreter lock.
// Writes nothing when sys.stdout is None or missing. Never raises and never
// disturbs an exception already set: a trace line that cannot be written is
// dropped. Returns the number of bytes formatted, or -1.
int debug(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes `text` as it stands, under the same rules.
void write_trace(std::string_view text);
