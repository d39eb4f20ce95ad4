// The compact number format of parameter counts and the budget line text.
// Plain C++ text, no interpreter objects.
#pragma once

#include <cstdint>
#include <string>

namespace nvx::target {

// Fixed-point text with one digit after the point, correctly rounded from the
// exact binary value (ties to even), as the interpreter's format(x, ".1f") gives
// it for finite values.
std::string format_fixed1(double value);

// Drops a trailing ".0" (e.g. "1000.0" -> "1000").
std::string drop_point_zero(std::string text);

// Below 1000 the plain number; then K, M and B with one decimal. The unit is
// chosen before rounding, so 999999 reads "1000K".
std::string format_human_count(std::int64_t value);

// 100 * added / total, with one decimal; "0.0" when the total is 0.
std::string format_share(std::int64_t added, std::int64_t total);

// "Dendrification budget:  +<added> params per dendrite cycle  ·  model <total>  (+<share>% / cycle)"
std::string budget_line(const std::string& added, const std::string& total, const std::string& share);

}  // namespace nvx::target
