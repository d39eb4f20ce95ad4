// What the Targets screen, the type-rules block and the save overlay ask of
// the rows: the rows shown, the rows that still need a mode, the type rules
// with their live counts, the children of a restructured module, the budget
// sums, parameter tensors held by several rows, the model's own parameters
// no rule reaches, and the classes a type rule nearly matches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "module_table.hpp"
#include "rule_lists.hpp"

namespace nvx::model {

// Rows shown: a row inside a restructured module only while `root_open(row)`
// says that its restructured module is expanded.
std::vector<int> visible_rows(const ModuleTable& table,
                              const std::function<bool(std::size_t row)>& root_open);

// Rows that own parameters, are neither inside nor at a restructured module,
// and have no mode (`has_no_mode(row)`), in row order.
template <typename HasNoMode, typename Visit>
void each_unset(const ModuleTable& table, const HasNoMode& has_no_mode, const Visit& visit) {
    for (std::size_t row = 0; row < table.size(); ++row) {
        if (table.inside_replaced(row) || table.replaced_root(row) || !table.owns(row)) continue;
        if (has_no_mode(row)) visit(row);
    }
}

// Rows outside restructured modules per class slot (a restructured module
// itself counts).
std::vector<std::int64_t> live_counts_by_slot(const ModuleTable& table);
// The live count of a type rule naming `name`.
std::int64_t live_count(const ModuleTable& table, const std::vector<std::int64_t>& per_slot, const Name& name,
                        NameOracle& oracle);

struct TypeRule {
    Name name;
    Mode mode = Mode::None;
    std::int64_t live_count = 0;
};
// `type_rule_entries(entries)`: the counts, then the class names to dendrify
// in sorted order, then those to track, each list read through `store`.
std::vector<TypeRule> type_rules(const ModuleTable& table, RuleStore& store, NameOracle& oracle);

// The positions of a list's values in sorted order.
std::vector<std::size_t> sorted_order(const std::vector<Name>& values, NameOracle& oracle);

// Rows whose restructured module is the one with `root_id`: every row's
// "replaced_root" is read at the first question.
class ChildCounts {
public:
    explicit ChildCounts(const ModuleTable& table) : table_(&table) {}
    std::size_t of(const Name& root_id, NameOracle& oracle);

private:
    const ModuleTable* table_;
    bool counted_ = false;
    std::unordered_map<std::string_view, std::size_t> by_text_;
    std::vector<std::pair<std::size_t, std::size_t>> others_;  // (a row with that root, rows under it)
};

// The budget: parameters of every row counted once (the model), and those of
// the dendrified rows counted once (added per dendrite cycle).
struct BudgetSums {
    std::int64_t total = 0;
    std::int64_t added = 0;
};
// Reads each row's parameters, then asks `dendrified(row)`, row by row.
BudgetSums budget_sums(const ModuleTable& table, const std::function<bool(std::size_t row)>& dendrified);
// "Dendrification budget:  +<added> params per dendrite cycle  ·  model <total>  (+<share>% / cycle)"
std::u32string budget_text(const BudgetSums& sums);

// Parameter tensors held by more than one row (a module under two paths
// counts as two holders).
struct Sharing {
    // Shared tensor s is held by holders[offsets[s] .. offsets[s + 1]), in row order.
    std::vector<std::size_t> offsets{0};
    std::vector<int> holders;
    // Per row, the earlier row holding the first of its parameters when earlier
    // rows hold all of them, else -1; empty when nothing is shared.
    std::vector<int> owner_of_all;

    int owner_of(std::size_t row) const { return owner_of_all.empty() ? -1 : owner_of_all[row]; }
};
// Nothing is shared when some row's module cannot be read.
Sharing find_sharing(const ModuleTable& table);

// Rows that own one tensor but give it different modes: `row` holds `tensors`
// tensors whose first holder is the earlier row `owner`.
struct SharedConflict {
    std::size_t row = 0;
    std::size_t owner = 0;
    Mode row_mode = Mode::None;
    Mode owner_mode = Mode::None;
    std::size_t tensors = 0;
};
struct SharedConflicts {
    std::vector<SharedConflict> pairs;  // in row order of `row`, then of `owner`
    std::size_t tensors = 0;            // distinct tensors in conflict
};
SharedConflicts shared_conflicts(const Sharing& sharing, const std::function<Mode(std::size_t row)>& mode_of);

// Parameters the model object holds itself that no row holds: no rule reaches them.
struct Unreached {
    std::vector<std::u32string> names;
    std::int64_t elements = 0;
};
// None when the table holds no model parameters or a row's module cannot be read.
std::optional<Unreached> unreached_parameters(const ModuleTable& table);

// A class of the model that a type rule misses: its name differs from the
// rule's while one of its base classes is named like the rule.
struct NearMiss {
    Name type_name;
    std::size_t count = 0;  // rows of that class name
};
struct TypeRuleHints {
    bool matches_nothing = false;  // no row at all has the rule's class name
    std::vector<NearMiss> near_misses;
};
// Hints for a rule naming `rule` (text rules only; needs the table's class uses).
TypeRuleHints type_rule_hints(const ModuleTable& table, const Name& rule, NameOracle& oracle);

}  // namespace nvx::model
