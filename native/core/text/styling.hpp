// ANSI styling over code points: 24-bit foreground colours, dim grey, reverse
// video. Every styled piece carries its own full reset, so pieces concatenate
// without leaking style; widths are measured after stripping SGR codes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace nvx::style {

inline const std::u32string kColorDendrify = U"00A5A5";
inline const std::u32string kColorTrack = U"8A95A0";
inline const std::u32string kColorAttention = U"FD4D00";
inline const std::u32string kColorAccent = U"D9A441";
inline const std::u32string kColorTitle = U"E8EEEC";
inline const std::u32string kColorNone = U"000000";

inline const std::u32string kReset = U"\x1b[0m";

// Two spaces and 70 box-drawing rules: the separator under headers.
std::u32string horizontal_rule();

std::u32string ansi(const std::u32string& text, const std::u32string& code);

// Red, green and blue of a colour whose first six characters are two-digit hex
// pairs; nullopt when a pair is not exactly two hex digits (the caller then
// defers to the interpreter's own parsing for its error or edge cases).
struct Rgb {
    int red, green, blue;
};
std::optional<Rgb> parse_hex_color(const std::u32string& hex);

std::u32string color_text(const std::u32string& text, const Rgb& rgb);
// For palette colours only (always valid).
std::u32string color_text(const std::u32string& text, const std::u32string& hex);

std::u32string dim(const std::u32string& text);
std::u32string inverted(const std::u32string& text);

// Length of the SGR code ("\e[" digits and semicolons "m") starting at `pos`,
// or 0 when none starts there.
std::size_t sgr_length(const std::u32string& text, std::size_t pos);
// Removes every "\e[" digits-and-semicolons "m" sequence.
std::u32string strip_ansi(const std::u32string& text);
// Visible width: code points left after strip_ansi.
std::size_t visible_width(const std::u32string& text);

}  // namespace nvx::style
