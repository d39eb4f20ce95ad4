#include "plan.hpp"

#include <array>

#include "core/text/display_text.hpp"

namespace nvx::plan {
namespace {

using model::Field;
using model::Mode;

// The four lists as read once from where they live, cleaned up here: the
// plan sees what the next pass would see, and the configuration is left as
// it is.
class ListsAsRead final : public model::RuleStore {
public:
    explicit ListsAsRead(model::RuleStore& source) {
        for (std::size_t k = 0; k < lists_.size(); ++k)
            lists_[k] = source.fetch(static_cast<model::RuleKind>(k));
    }
    model::RuleList fetch(model::RuleKind which) override { return lists_[static_cast<std::size_t>(which)]; }
    void store(model::RuleKind which, const std::vector<model::Name>& values) override {
        lists_[static_cast<std::size_t>(which)] = model::RuleList{values, false, model::kNoToken};
    }

private:
    std::array<model::RuleList, 4> lists_;
};

// Rows in each row's subtree, and whether each subtree is the run of rows
// right after its row (as in the pre-order of a model's own traversal).
void measure_subtrees(Plan& plan) {
    const std::size_t count = plan.parents.size();
    plan.sizes.assign(count, 1);
    std::vector<std::size_t> end(count);
    for (std::size_t row = 0; row < count; ++row) end[row] = row + 1;
    for (std::size_t row = count; row-- > 0;) {
        const int parent = plan.parents[row];
        if (parent < 0) continue;
        const auto p = static_cast<std::size_t>(parent);
        plan.sizes[p] += plan.sizes[row];
        end[p] = std::max(end[p], end[row]);
        if (p > row) plan.contiguous = false;  // a parent after its child
    }
    for (std::size_t row = 0; row < count && plan.contiguous; ++row) {
        plan.contiguous = end[row] - row == plan.sizes[row];
    }
}

void find_conflicts(Plan& plan, const model::Sharing& sharing) {
    plan.in_conflict.assign(plan.parents.size(), 0);
    for (std::size_t s = 0; s + 1 < sharing.offsets.size(); ++s) {
        Conflict conflict;
        bool differ = false;
        for (std::size_t k = sharing.offsets[s]; k < sharing.offsets[s + 1]; ++k) {
            const int row = sharing.holders[k];
            const Mode mode = plan.resolution.eff[static_cast<std::size_t>(row)];
            differ = differ || (!conflict.modes.empty() && mode != conflict.modes.front());
            conflict.rows.push_back(row);
            conflict.modes.push_back(mode);
        }
        if (!differ) continue;
        for (const int row : conflict.rows) plan.in_conflict[static_cast<std::size_t>(row)] = 1;
        plan.conflicts.push_back(std::move(conflict));
    }
}

void read_type_rules(Plan& plan, model::RuleStore& lists, model::NameOracle& oracle) {
    const model::ModuleTable& table = *plan.table;
    for (const model::TypeRule& rule : model::type_rules(table, lists, oracle)) {
        TypeRule out;
        out.name = model::text_of(rule.name, oracle);
        out.mode = rule.mode;
        out.live_count = rule.live_count;
        const model::TypeRuleHints hints = model::type_rule_hints(table, rule.name, oracle);
        out.matches_nothing = hints.matches_nothing && rule.live_count == 0;
        for (const model::NearMiss& miss : hints.near_misses) {
            out.near_misses.push_back(NearMiss{model::text_of(miss.type_name, oracle), miss.count});
        }
        plan.type_rules.push_back(std::move(out));
    }
}

}  // namespace

double Plan::share() const {
    if (budget.total == 0) return 0.0;
    return 100.0 * static_cast<double>(budget.added) / static_cast<double>(budget.total);
}

Plan build_plan(const model::ModuleTable& table, model::Resolver& resolver, model::RuleStore& rules,
                model::NameOracle& oracle, std::vector<unsigned char> overrides) {
    Plan plan;
    plan.table = &table;
    plan.oracle = &oracle;
    ListsAsRead lists(rules);
    model::normalize(lists, oracle);
    resolver.resolve(lists, oracle, plan.resolution);
    const std::size_t count = table.size();
    plan.parents = count == 0 ? std::vector<int>() : resolver.parents();
    measure_subtrees(plan);
    plan.overrides = std::move(overrides);
    plan.overrides.resize(count, 0);

    plan.restructured.assign(count, Restructured::No);
    for (std::size_t row = 0; row < count; ++row) {
        if (table.replaced_root(row)) {
            plan.restructured[row] = Restructured::Root;
        } else if (table.inside_replaced(row)) {
            plan.restructured[row] = Restructured::Inside;
        }
    }
    plan.needs_mode_flags.assign(count, 0);
    model::each_unset(
        table, [&](std::size_t row) { return plan.resolution.eff[row] == Mode::None; },
        [&](std::size_t row) {
            plan.needs_mode.push_back(static_cast<int>(row));
            plan.needs_mode_flags[row] = 1;
        });
    plan.budget = model::budget_sums(
        table, [&](std::size_t row) { return plan.resolution.eff[row] == Mode::Dendrified; });

    const model::Sharing sharing = model::find_sharing(table);
    plan.shared_with.assign(count, -1);
    for (std::size_t row = 0; row < count; ++row) {
        if (table.owns(row)) plan.shared_with[row] = sharing.owner_of(row);
    }
    find_conflicts(plan, sharing);
    if (const std::optional<model::Unreached> unreached = model::unreached_parameters(table)) {
        plan.model_parameters = unreached->names;
        plan.model_parameter_elements = unreached->elements;
    }
    read_type_rules(plan, lists, oracle);
    return plan;
}

std::u32string id_text(const Plan& plan, std::size_t row) {
    return model::text_of(plan.table->id(row), *plan.oracle);
}

std::u32string shown_id(const Plan& plan, std::size_t row) {
    return display::escape_controls(id_text(plan, row));
}

std::u32string shown_type_name(const Plan& plan, std::size_t row) {
    return display::escape_controls(model::text_of(plan.table->type_name(row), *plan.oracle));
}

}  // namespace nvx::plan
