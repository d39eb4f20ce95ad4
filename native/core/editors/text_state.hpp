// Text editing behind the inline value editors: a buffer of code points and a
// cursor that stands before the character at its index. Indices follow the
// interpreter's slicing rules, so a cursor outside the text never fails.
#pragma once

#include <string>

namespace nvx::editors {

struct TextState {
    std::u32string buffer;
    long long cursor;
};

// `text[start:stop]` with the interpreter's clamping of negative and large bounds.
std::u32string slice(const std::u32string& text, long long start, long long stop);

// Left and Right arrows: one step, clamped to 0 and to the text length.
TextState move_left(const TextState& state);
TextState move_right(const TextState& state);
// Home and End: to the start and to the end of the text.
TextState move_home(const TextState& state);
TextState move_end(const TextState& state);
// Backspace (DEL): removes the character before the cursor, which follows it.
TextState erase_before(const TextState& state);
// Delete: removes the character under the cursor, which stays.
TextState erase_at(const TextState& state);
// Typing: inserts one character at the cursor and moves past it.
TextState insert(const TextState& state, char32_t character);

// A key that types itself: one character, not a control character below space.
bool is_typed_character(const std::u32string& key);

}  // namespace nvx::editors
