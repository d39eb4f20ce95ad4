// The type-rules block shown inside the Targets screen: a box with one row per
// type rule (with hint rows under the rules that nearly match or match
// nothing) and the close hint under it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "page_pieces.hpp"
#include "targets_text.hpp"

namespace nvx::overlays {

// One type rule as the box shows it (texts as drawn).
struct TypeRuleView {
    std::u32string name;
    targets::ModeColor color = targets::ModeColor::Other;
    std::u32string verb;
    std::int64_t count = 0;
    bool override_mark = false;  // the class holds per-module setting overrides
    std::vector<std::u32string> hints;
};

// "also in this model: A (2), B (1), an Embedding subclass": `classes` are the
// first (name, count) pairs to show, `more` whether others follow.
std::u32string near_miss_text(const std::vector<std::pair<std::u32string, std::size_t>>& classes, bool more,
                              const std::u32string& rule);
// The hint of a rule whose class no module has.
std::u32string matches_nothing_text();
// How many near-miss classes a hint names.
inline constexpr std::size_t kNearMissesShown = 3;

// The box's lines: its top, a row per rule and per hint, its bottom, the close
// hint. The box is 38 columns wide inside, or as wide as its longest row
// needs; with `max_columns` it is never wider than that (borders and indent
// included): a hint that does not fit is cut with "…", a rule row keeps its
// text and the box widens for it only as far as `max_columns` allows.
Lines type_rules_box(const std::vector<TypeRuleView>& rules, std::optional<std::size_t> max_columns = {});

// The box of `box` (as type_rules_box made it) cut to `room` terminal rows of
// its rows at `columns`: at least one row, from row `first` on as far as the
// room goes, filled upward at the end (`first` is moved to where it starts),
// with a dimmed "+N more (↑↓ scroll)" row counting the rows left out.
Lines cut_type_rules_box(const Lines& box, long long& first, long long room, long long columns);

}  // namespace nvx::overlays
