#include "text_state.hpp"

#include <algorithm>

namespace nvx::editors {
namespace {

long long length_of(const std::u32string& text) {
    return static_cast<long long>(text.size());
}

// One slice bound normalised as the interpreter does: negative counts from the
// end, then clamped into [0, length].
long long clamp_bound(long long bound, long long length) {
    if (bound < 0) bound += length;
    return std::clamp<long long>(bound, 0, length);
}

}  // namespace

std::u32string slice(const std::u32string& text, long long start, long long stop) {
    const long long length = length_of(text);
    const long long from = clamp_bound(start, length);
    const long long to = clamp_bound(stop, length);
    if (to <= from) return {};
    return text.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
}

TextState move_left(const TextState& state) {
    return {state.buffer, std::max(0LL, state.cursor - 1)};
}

TextState move_right(const TextState& state) {
    return {state.buffer, std::min(length_of(state.buffer), state.cursor + 1)};
}

TextState move_home(const TextState& state) {
    return {state.buffer, 0};
}

TextState move_end(const TextState& state) {
    return {state.buffer, length_of(state.buffer)};
}

TextState erase_before(const TextState& state) {
    if (state.cursor <= 0) return state;
    const long long length = length_of(state.buffer);
    return {slice(state.buffer, 0, state.cursor - 1) + slice(state.buffer, state.cursor, length),
            state.cursor - 1};
}

TextState erase_at(const TextState& state) {
    const long long length = length_of(state.buffer);
    if (state.cursor >= length) return state;
    return {slice(state.buffer, 0, state.cursor) + slice(state.buffer, state.cursor + 1, length),
            state.cursor};
}

TextState insert(const TextState& state, char32_t character) {
    const long long length = length_of(state.buffer);
    return {slice(state.buffer, 0, state.cursor) + character + slice(state.buffer, state.cursor, length),
            state.cursor + 1};
}

bool is_typed_character(const std::u32string& key) {
    return key.size() == 1 && key[0] >= U' ';
}

}  // namespace nvx::editors
