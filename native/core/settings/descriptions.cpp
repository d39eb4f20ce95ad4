#include "descriptions.hpp"

#include <cstddef>

namespace nvx::settings {
namespace {

// White space as the interpreter's str.isspace() and str.split() see it.
bool is_white_space(char32_t c) {
    switch (c) {
        case U'\t':
        case U'\n':
        case U'\v':
        case U'\f':
        case U'\r':
        case 0x1c:
        case 0x1d:
        case 0x1e:
        case 0x1f:
        case U' ':
        case 0x85:
        case 0xa0:
        case 0x1680:
        case 0x2028:
        case 0x2029:
        case 0x202f:
        case 0x205f:
        case 0x3000:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200a;
    }
}

// ASCII lower case only: no other code point lower-cases to a letter of the two
// impactful spellings (the Kelvin sign gives "k", U+0130 gives two code
// points), so this comparison equals comparing the interpreter's str.lower().
char32_t ascii_lower(char32_t c) {
    return (c >= U'A' && c <= U'Z') ? c + (U'a' - U'A') : c;
}

std::u32string collapse_white_space(const std::u32string& text) {
    std::u32string out;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && is_white_space(text[i])) ++i;
        if (i == text.size()) break;
        if (!out.empty()) out.push_back(U' ');
        while (i < text.size() && !is_white_space(text[i])) out.push_back(text[i++]);
    }
    return out;
}

bool equals_ignoring_ascii_case(const std::u32string& text, const std::u32string& lower) {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (ascii_lower(text[i]) != lower[i]) return false;
    }
    return true;
}

}  // namespace

bool is_impactful_label(const std::u32string& label) {
    const std::u32string words = collapse_white_space(label);
    return equals_ignoring_ascii_case(words, U"impactful") ||
           equals_ignoring_ascii_case(words, U"impactful hyperparameters");
}

std::u32string missing_setting_help(const std::u32string& name) {
    return U"No description available for " + name + U".";
}

std::u32string missing_bucket_help() {
    return U"No description available.";
}

}  // namespace nvx::settings
