#include "no_color.hpp"

#include <cstdlib>
#include <vector>

#include "styling.hpp"

namespace nvx::style {
namespace {

constexpr long kGrey = 90;
const std::u32string kFaint = U"2";

// The sixteen basic colours and their defaults, foreground and background.
bool basic_color(long code) {
    return (code >= 30 && code <= 39) || (code >= 40 && code <= 49) || (code >= 90 && code <= 97) ||
           (code >= 100 && code <= 107);
}

// 38, 48 and 58 (underline) take the colour in the parameters that follow.
bool extended_color(long code) {
    return code == 38 || code == 48 || code == 58;
}

// One parameter of an SGR sequence: its value (an empty one reads as 0) and
// its text as written.
struct Parameter {
    long value = 0;
    std::u32string text;
};

std::vector<Parameter> parameters(const std::u32string& text, std::size_t begin, std::size_t end) {
    std::vector<Parameter> out(1);
    for (std::size_t i = begin; i < end; ++i) {
        if (text[i] == U';') {
            out.emplace_back();
            continue;
        }
        Parameter& current = out.back();
        current.text.push_back(text[i]);
        if (current.value < 1000) current.value = current.value * 10 + static_cast<long>(text[i] - U'0');
    }
    return out;
}

// The parameters with the colours left out; grey becomes faint.
std::vector<std::u32string> attributes_only(const std::vector<Parameter>& codes) {
    std::vector<std::u32string> kept;
    for (std::size_t k = 0; k < codes.size(); ++k) {
        const long code = codes[k].value;
        if (extended_color(code)) {
            // "5;n" names one of 256 colours, "2;r;g;b" a 24-bit one.
            if (k + 1 < codes.size() && codes[k + 1].value == 5) {
                k += 2;
            } else if (k + 1 < codes.size() && codes[k + 1].value == 2) {
                k += 4;
            }
            continue;
        }
        if (code == 59) continue;  // default underline colour
        if (code == kGrey) {
            kept.push_back(kFaint);
        } else if (!basic_color(code)) {
            kept.push_back(codes[k].text);
        }
    }
    return kept;
}

}  // namespace

std::u32string without_color(const std::u32string& text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = sgr_length(text, i);
        if (length == 0) {
            out.push_back(text[i++]);
            continue;
        }
        const std::size_t first = i + 2;
        const std::size_t last = i + length - 1;  // the "m"
        i += length;
        if (first == last) {  // "\e[m", the bare reset
            out.append(U"\x1b[m");
            continue;
        }
        const std::vector<std::u32string> kept = attributes_only(parameters(text, first, last));
        if (kept.empty()) continue;
        out.append(U"\x1b[");
        for (std::size_t k = 0; k < kept.size(); ++k) {
            if (k > 0) out.push_back(U';');
            out.append(kept[k]);
        }
        out.push_back(U'm');
    }
    return out;
}

bool color_refused() {
    const char* value = std::getenv("NO_COLOR");
    return value != nullptr && value[0] != '\0';
}

std::u32string for_terminal(std::u32string text) {
    if (color_refused()) return without_color(text);
    return text;
}

}  // namespace nvx::style
