// Key strings and their classification, over code points.
//
// A key string is what one `read_single_key` call returns: a single character
// (one input byte read as Latin-1) or an escape sequence starting with ESC.
#pragma once

#include <cstdint>
#include <string>

namespace nvx::keys {

bool is_up(const std::u32string& key);
bool is_down(const std::u32string& key);
bool is_left(const std::u32string& key);
bool is_right(const std::u32string& key);
bool is_page_up(const std::u32string& key);
bool is_page_down(const std::u32string& key);
bool is_delete(const std::u32string& key);
bool is_enter(const std::u32string& key);
bool is_tab(const std::u32string& key);
bool is_select(const std::u32string& key);
// Home and End as terminals send them: ESC [ H / ESC [ F, ESC O H / ESC O F,
// and the VT and rxvt forms ESC [ 1 ~ / ESC [ 4 ~ and ESC [ 7 ~ / ESC [ 8 ~.
bool is_home(const std::u32string& key);
bool is_end(const std::u32string& key);

// True when the byte, read as a Latin-1 character, is a letter or "~": the
// bytes that end an escape sequence.
bool ends_escape_sequence(std::uint8_t byte);

// Latin-1 reading of raw bytes: one code point per byte.
std::u32string from_latin1(const std::string& bytes);

// Escape sequences written to switch screen buffers.
inline const std::u32string kEnterAlternateScreen = U"\x1b[?1049h\x1b[?25l\x1b[2J\x1b[H";
inline const std::u32string kExitAlternateScreen = U"\x1b[?25h\x1b[?1049l";

}  // namespace nvx::keys
