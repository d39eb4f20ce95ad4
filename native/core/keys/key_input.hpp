// Key strings and their classification, over code points.
//
// A key string is what one `read_single_key` call returns: a single character
// (one input byte read as Latin-1) or an escape sequence starting with ESC.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nvx::keys {

// What a classifying predicate tests, in this order: `alias` first (a letter
// that stands for the key, such as "k" for up); then, when `escape_only`, a key
// that does not start with ESC is not this key; then the `exact` texts; then,
// when `prefix` is not empty, the pattern: the key starts with `prefix`,
// contains `part` (when not empty) and ends with `suffix`.
struct KeyPattern {
    std::u32string alias;
    bool escape_only = false;
    std::vector<std::u32string> exact;
    std::u32string prefix;
    std::u32string part;
    std::u32string suffix;
};

// Up and down also answer to "k" and "j". The arrows and the paging and delete
// keys accept the modifier forms terminals send (ESC [1;5A for Ctrl+Up,
// ESC [5;5~ for Ctrl+Page Up).
extern const KeyPattern kUp;
extern const KeyPattern kDown;
extern const KeyPattern kLeft;
extern const KeyPattern kRight;
extern const KeyPattern kPageUp;
extern const KeyPattern kPageDown;
extern const KeyPattern kDelete;
extern const KeyPattern kEnter;
extern const KeyPattern kTab;
// Space or Enter.
extern const KeyPattern kSelect;
// Home and End as terminals send them: ESC [ H / ESC [ F, ESC O H / ESC O F,
// and the VT and rxvt forms ESC [ 1 ~ / ESC [ 4 ~ and ESC [ 7 ~ / ESC [ 8 ~.
extern const KeyPattern kHome;
extern const KeyPattern kEnd;

bool matches(const KeyPattern& pattern, const std::u32string& key);

// True when the byte, read as a Latin-1 character, is a letter or "~": the
// bytes that end an escape sequence.
bool ends_escape_sequence(std::uint8_t byte);

// Latin-1 reading of raw bytes: one code point per byte.
std::u32string from_latin1(const std::string& bytes);

// Escape sequences written to switch screen buffers.
inline const std::u32string kEnterAlternateScreen = U"\x1b[?1049h\x1b[?25l\x1b[2J\x1b[H";
inline const std::u32string kExitAlternateScreen = U"\x1b[?25h\x1b[?1049l";

}  // namespace nvx::keys
