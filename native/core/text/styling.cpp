#include "styling.hpp"

#include "display_text.hpp"

namespace nvx::style {
namespace {

int hex_digit(char32_t c) {
    if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
    if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a') + 10;
    if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A') + 10;
    return -1;
}

}  // namespace

std::size_t sgr_length(const std::u32string& text, std::size_t pos) {
    if (text[pos] != U'\x1b' || pos + 1 >= text.size() || text[pos + 1] != U'[') return 0;
    std::size_t end = pos + 2;
    while (end < text.size() && ((text[end] >= U'0' && text[end] <= U'9') || text[end] == U';')) {
        ++end;
    }
    return end < text.size() && text[end] == U'm' ? end + 1 - pos : 0;
}

std::u32string horizontal_rule() {
    return U"  " + std::u32string(70, U'\u2500');
}

std::u32string ansi(const std::u32string& text, const std::u32string& code) {
    return U"\x1b[" + code + U"m" + text + kReset;
}

std::optional<Rgb> parse_hex_color(const std::u32string& hex) {
    if (hex.size() < 6) return std::nullopt;
    int channels[3];
    for (int i = 0; i < 3; ++i) {
        const int high = hex_digit(hex[2 * i]);
        const int low = hex_digit(hex[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        channels[i] = high * 16 + low;
    }
    return Rgb{channels[0], channels[1], channels[2]};
}

std::u32string color_text(const std::u32string& text, const Rgb& rgb) {
    return U"\x1b[38;2;" + display::decimal(rgb.red) + U";" + display::decimal(rgb.green) + U";" +
           display::decimal(rgb.blue) + U"m" + text + kReset;
}

std::u32string color_text(const std::u32string& text, const std::u32string& hex) {
    return color_text(text, parse_hex_color(hex).value_or(Rgb{0, 0, 0}));
}

std::u32string dim(const std::u32string& text) {
    return ansi(text, U"90");
}

std::u32string inverted(const std::u32string& text) {
    return U"\x1b[7m" + text + kReset;
}

std::u32string strip_ansi(const std::u32string& text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t skip = sgr_length(text, i);
        if (skip > 0) {
            i += skip;
        } else {
            out.push_back(text[i++]);
        }
    }
    return out;
}

std::size_t visible_width(const std::u32string& text) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t skip = sgr_length(text, i);
        if (skip > 0) {
            i += skip;
        } else {
            ++width;
            ++i;
        }
    }
    return width;
}

}  // namespace nvx::style
