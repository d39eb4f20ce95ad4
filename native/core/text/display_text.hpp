// Text from outside the program (module ids, class names, setting values,
// messages) is drawn between our own escape sequences; a control character in
// it would reach the terminal as a command. These helpers show each such
// character as a visible "\xNN" instead, and leave every other text unchanged.
#pragma once

#include <string>
#include <string_view>

namespace nvx::display {

// True for C0 controls, DEL and C1 controls: the code points a terminal may act on.
constexpr bool is_control(char32_t c) {
    return c < 0x20 || (c >= 0x7f && c < 0xa0);
}

// `text` with every control character written as "\x" and two lower-case hex digits.
std::u32string escape_controls(std::u32string_view text);

// The same, in place; leaves `text` untouched (no allocation) when it is clean.
void escape_controls_in_place(std::u32string& text);

// The decimal digits of `value` (with a leading "-" when negative).
std::u32string decimal(long long value);

}  // namespace nvx::display
