#pragma once

#include <chrono>
#include <string>

// A wait as trace lines show it, in seconds rounded to a tenth: "2 s",
// "1.3 s", "0 s" (halves round up; a whole number shows no decimal).
std::string wait_text(std::chrono::nanoseconds wait);
