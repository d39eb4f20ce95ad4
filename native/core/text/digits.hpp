// Whole numbers as code-point text.
#pragma once

#include <string>

namespace nvx::text {

// The number in decimal, without grouping.
inline std::u32string decimal(long long value) {
    const std::string digits = std::to_string(value);
    return std::u32string(digits.begin(), digits.end());
}

}  // namespace nvx::text
