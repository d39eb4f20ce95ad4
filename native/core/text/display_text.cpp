#include "display_text.hpp"

#include <algorithm>

namespace nvx::display {

std::u32string escape_controls(std::u32string_view text) {
    static constexpr char32_t kHex[] = U"0123456789abcdef";
    std::u32string out;
    out.reserve(text.size());
    for (const char32_t c : text) {
        if (is_control(c)) {
            out += U"\\x";
            out += kHex[(c >> 4) & 0xf];
            out += kHex[c & 0xf];
        } else {
            out += c;
        }
    }
    return out;
}

void escape_controls_in_place(std::u32string& text) {
    if (std::none_of(text.begin(), text.end(), is_control)) return;
    text = escape_controls(text);
}

std::u32string decimal(long long value) {
    const std::string digits = std::to_string(value);
    return std::u32string(digits.begin(), digits.end());
}

}  // namespace nvx::display
