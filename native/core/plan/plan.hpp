// A plan of the dendrification targets without a terminal: what the Targets
// screen would show for the model under the rules as they are, as data. Every
// fact comes from the target model's own rules (the clean-up of the rule
// lists, the resolution, the rows that need a mode, the budget, the shared
// tensors, the model's own parameters, the near-miss classes); the plan only
// gathers them per row and for the whole model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/model/module_table.hpp"
#include "core/model/queries.hpp"
#include "core/model/resolution.hpp"

namespace nvx::plan {

enum class Restructured : std::uint8_t { No, Root, Inside };

// One tensor held by several rows whose modes are not all the same.
struct Conflict {
    std::vector<int> rows;  // its holders, in row order
    std::vector<model::Mode> modes;
};

struct NearMiss {
    std::u32string name;
    std::size_t count = 0;
};

struct TypeRule {
    std::u32string name;  // str() of the rule's value
    model::Mode mode = model::Mode::None;
    std::int64_t live_count = 0;
    bool matches_nothing = false;
    std::vector<NearMiss> near_misses;
};

struct Plan {
    // The rows' table and the oracle its names are read with; both outlive the plan.
    const model::ModuleTable* table = nullptr;
    model::NameOracle* oracle = nullptr;

    model::Resolution resolution;
    std::vector<int> parents;        // parent row of each row, -1 for none
    std::vector<std::size_t> sizes;  // rows in each row's subtree, the row included
    bool contiguous = true;          // every subtree is one run of rows (pre-order)
    std::vector<Restructured> restructured;
    std::vector<unsigned char> needs_mode_flags;
    std::vector<unsigned char> overrides;  // saved setting overrides for the row's id or class
    std::vector<unsigned char> in_conflict;
    std::vector<int> shared_with;  // the earlier row holding all of a row's parameters, else -1

    std::vector<int> needs_mode;  // rows, in order
    std::vector<Conflict> conflicts;
    std::vector<std::u32string> model_parameters;  // held by the model itself, reached by no rule
    std::int64_t model_parameter_elements = 0;
    std::vector<TypeRule> type_rules;
    model::BudgetSums budget;

    bool ok() const { return needs_mode.empty() && conflicts.empty(); }
    // 100 * added / total, 0 when the model has no parameters.
    double share() const;
};

// The plan of `table` under the four rule lists read once through `rules`
// (cleaned up as a pass cleans them, without writing them back).
// `overrides[row]` says whether saved overrides name the row's id or class.
// Needs the table's ids, class names, depths, counts, restructured flags,
// parameters and class uses; throws FieldError where a rule reads a cell
// that is not there.
Plan build_plan(const model::ModuleTable& table, model::Resolver& resolver, model::RuleStore& rules,
                model::NameOracle& oracle, std::vector<unsigned char> overrides);

// Texts of a plan's names: `str()` of the name, and the same as drawn
// (control characters escaped).
std::u32string id_text(const Plan& plan, std::size_t row);
std::u32string shown_id(const Plan& plan, std::size_t row);
std::u32string shown_type_name(const Plan& plan, std::size_t row);

}  // namespace nvx::plan
