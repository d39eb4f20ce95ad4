// The rows a plan shows, in tree order. Consecutive siblings whose subtrees
// have the same shape (the same classes and own parameter counts all the way
// down) and the same modes fold into one row that stands for all of them,
// "<parent>.{0..31}" shown once with its subtree; a sibling that differs ends
// the run. A depth limit leaves out the rows below it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "plan.hpp"

namespace nvx::plan {

struct ShownRow {
    std::size_t row = 0;     // the first of the rows it stands for
    std::size_t copies = 1;  // siblings folded into it
    std::u32string label;    // the id as shown, folded parts written "{0..31}"
    // Modules this row stands for, itself and every copy included, when the
    // depth limit hides its subtree; 0 when nothing below it is hidden.
    std::size_t hidden_modules = 0;
};

struct ShowOptions {
    bool fold = true;
    // Rows deeper than this ("depth", 0 for the model's direct children) are left out.
    std::optional<std::size_t> max_depth;
};

std::vector<ShownRow> shown_rows(const Plan& plan, const ShowOptions& options);

}  // namespace nvx::plan
