// Small pieces every overlay page is made of.
#pragma once

#include <string>
#include <vector>

#include "core/text/styling.hpp"

namespace nvx::overlays {

using Lines = std::vector<std::u32string>;

// A page title: two spaces, then the text in the near-white title colour.
inline std::u32string title(const std::u32string& text) {
    return U"  " + style::color_text(text, style::kColorTitle);
}

}  // namespace nvx::overlays
