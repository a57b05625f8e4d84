#include "cloudflare/path_segment.hpp"

namespace {

bool breaks_segment(unsigned char c) {
    return c == '/' || c == '?' || c == '#' || c == '%' || c == '\\' || c == ' ' || c < 0x20 || c == 0x7f;
}

}  // namespace

bool is_single_path_segment(std::string_view segment) {
    if (segment == "." || segment == "..") return false;
    for (unsigned char c : segment) {
        if (breaks_segment(c)) return false;
    }
    return true;
}
