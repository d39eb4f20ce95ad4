// Text of the type-rules box shown inside the Targets screen.
#pragma once

#include <cstddef>
#include <utility>
#include "page_pieces.hpp"

namespace nvx::overlays {

// One row of the type-rules box: `plain` measures the visible width of `styled`.
struct TypeRuleRow {
    std::u32string plain;
    std::u32string styled;
};

// A rule row: type name, "→ verb" in the mode colour, the dimmed count.
TypeRuleRow type_rule_row(const std::u32string& type_name, const std::u32string& verb,
                          const std::u32string& colored_arrow, const std::u32string& count);
// The arrow piece of a rule row before colouring: "→ " + verb.
std::u32string type_rule_arrow(const std::u32string& verb);
// A dimmed hint row under a rule row.
TypeRuleRow type_rule_hint(const std::u32string& text);
// "also in this model: A (2), B (1), a Linear subclass": `classes` are the
// first (name, count) pairs to show, `more` whether others follow.
std::u32string near_miss_text(const std::vector<std::pair<std::u32string, std::size_t>>& classes, bool more,
                              const std::u32string& rule);
// The hint of a rule whose class no module has.
std::u32string matches_nothing_text();
// How many near-miss classes a hint names.
inline constexpr std::size_t kNearMissesShown = 3;

// The box around `rows` (a single placeholder row when empty) and the close hint.
Lines type_rules_box(const std::vector<TypeRuleRow>& rows);

}  // namespace nvx::overlays
