// A plan as text: the budget line, the warnings, then the module tree with
// each row's mode and own parameter count, fitted to a width. The same
// pieces, unstyled, make the plan's HTML table and the lines of a check.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/screens/targets_frame.hpp"
#include "fold.hpp"
#include "plan.hpp"

namespace nvx::plan {

// One line above the tree, with what it is about.
struct Warning {
    enum class Kind { Budget, Clear, NeedsMode, Conflict, ModelParameters, TypeRule };
    Kind kind = Kind::Budget;
    std::u32string text;    // plain
    std::u32string styled;  // with colour codes
};
// The lines above the tree; a list of ids is cut to fit `width`.
std::vector<Warning> warnings(const Plan& plan, std::size_t width);

// One shown row in the pieces a table shows (texts as drawn, unstyled).
struct RowColumns {
    std::size_t depth = 0;
    std::u32string marker;  // "!", "⚠", "↯", "⚙" or empty
    std::u32string label;
    std::u32string type_name;
    std::size_t copies = 1;
    std::size_t hidden_modules = 0;
    std::u32string mode;  // "dendrify", "track", "needs a mode", "restructured" or empty
    targets::ModeColor color = targets::ModeColor::Other;
    bool attention = false;  // "needs a mode"
    std::u32string source;   // "id", "type", "via <origin>" or empty
    std::u32string params;   // compact own count, empty when it owns none
    std::u32string shared_with;
};
std::vector<RowColumns> row_columns(const Plan& plan, const ShowOptions& options);

struct TextOptions {
    std::size_t width = 100;
    ShowOptions show;
    bool color = false;
};
// The whole report, lines joined by "\n". With `color`, styled (and without
// colour when the environment refuses it).
std::u32string plan_text(const Plan& plan, const TextOptions& options);

// One line per module that needs a mode and per tensor in conflict.
std::vector<std::u32string> problem_lines(const Plan& plan);

}  // namespace nvx::plan
