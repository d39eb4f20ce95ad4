#include "queries.hpp"

#include <algorithm>
#include <map>
#include <numeric>
#include <tuple>

#include "core/text/human_count.hpp"
#include "names.hpp"

namespace nvx::model {
namespace {

bool every_module_readable(const ModuleTable& table) {
    for (std::size_t row = 0; row < table.size(); ++row) {
        if (!table.modules.present(row)) return false;
    }
    return true;
}

}  // namespace

std::vector<int> visible_rows(const ModuleTable& table,
                              const std::function<bool(std::size_t row)>& root_open) {
    std::vector<int> shown;
    shown.reserve(table.size());
    for (std::size_t row = 0; row < table.size(); ++row) {
        if (table.inside_replaced(row) && !root_open(row)) continue;
        shown.push_back(static_cast<int>(row));
    }
    return shown;
}

std::vector<std::int64_t> live_counts_by_slot(const ModuleTable& table) {
    std::vector<std::int64_t> per_slot(table.class_names.size(), 0);
    for (std::size_t row = 0; row < table.size(); ++row) {
        if (table.inside_replaced(row)) continue;
        ++per_slot[static_cast<std::size_t>(table.type_slot(row))];
    }
    return per_slot;
}

std::int64_t live_count(const ModuleTable& table, const std::vector<std::int64_t>& per_slot, const Name& name,
                        NameOracle& oracle) {
    std::int64_t count = 0;
    for (std::size_t slot = 0; slot < per_slot.size(); ++slot) {
        if (per_slot[slot] != 0 && same_key(table.class_names[slot], name, oracle)) count += per_slot[slot];
    }
    return count;
}

std::vector<std::size_t> sorted_order(const std::vector<Name>& values, NameOracle& oracle) {
    if (!std::all_of(values.begin(), values.end(), [](const Name& value) { return value.is_text(); })) {
        return oracle.sorted_order(values);
    }
    std::vector<std::size_t> order(values.size());
    std::iota(order.begin(), order.end(), 0);
    // UTF-8 orders as the code points do.
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return values[a].text < values[b].text; });
    return order;
}

std::vector<TypeRule> type_rules(const ModuleTable& table, RuleStore& store, NameOracle& oracle) {
    const std::vector<std::int64_t> per_slot = live_counts_by_slot(table);
    std::vector<TypeRule> rules;
    for (const auto& [kind, mode] : {std::pair{RuleKind::NamesToDendrify, Mode::Dendrified},
                                     std::pair{RuleKind::NamesToTrack, Mode::Tracked}}) {
        const RuleList list = store.fetch(kind);
        for (const std::size_t at : sorted_order(list.values, oracle)) {
            const Name& name = list.values[at];
            rules.push_back(TypeRule{name, mode, live_count(table, per_slot, name, oracle)});
        }
    }
    return rules;
}

std::size_t ChildCounts::of(const Name& root_id, NameOracle& oracle) {
    if (!counted_) {
        for (std::size_t row = 0; row < table_->size(); ++row) {
            const Name& root = table_->replaced_roots.at(row, Field::ReplacedRoot);
            if (root.is_none()) continue;
            if (root.is_text()) {
                ++by_text_[root.text];
            } else {
                others_.emplace_back(row, 1);
            }
        }
        counted_ = true;
    }
    std::size_t count = 0;
    if (root_id.is_text()) {
        auto found = by_text_.find(root_id.text);
        if (found != by_text_.end()) count = found->second;
    } else if (!by_text_.empty()) {
        for (std::size_t row = 0; row < table_->size(); ++row) {
            const Name& root = table_->replaced_roots.values[row];
            if (root.is_text() && equal(root, root_id, oracle)) ++count;
        }
    }
    for (const auto& [row, rows] : others_) {
        if (equal(table_->replaced_roots.values[row], root_id, oracle)) count += rows;
    }
    return count;
}

BudgetSums budget_sums(const ModuleTable& table, const std::function<bool(std::size_t row)>& dendrified) {
    BudgetSums sums;
    const Parameters& parameters = table.parameters;
    std::vector<unsigned char> in_total(parameters.numel.size(), 0);
    std::vector<unsigned char> in_added(parameters.numel.size(), 0);
    for (std::size_t row = 0; row < table.size(); ++row) {
        const auto [begin, end] = table.own_parameters(row);
        for (const std::uint32_t* p = begin; p != end; ++p) {
            if (in_total[*p]) continue;
            in_total[*p] = 1;
            sums.total += parameters.numel[*p];
        }
        if (!dendrified(row)) continue;
        for (const std::uint32_t* p = begin; p != end; ++p) {
            if (in_added[*p]) continue;
            in_added[*p] = 1;
            sums.added += parameters.numel[*p];
        }
    }
    return sums;
}

std::u32string budget_text(const BudgetSums& sums) {
    const std::string line =
        target::budget_line(target::format_human_count(sums.added), target::format_human_count(sums.total),
                            target::format_share(sums.added, sums.total));
    return decode_utf8(line);
}

Sharing find_sharing(const ModuleTable& table) {
    Sharing sharing;
    if (!every_module_readable(table)) return sharing;
    const Parameters& parameters = table.parameters;
    const std::size_t rows = table.size();
    const std::size_t count = parameters.numel.size();
    std::vector<int> first_holder(count, -1);
    std::vector<int> holder_count(count, 0);
    bool any = false;
    for (std::size_t m = 0; m < rows; ++m) {
        for (std::size_t k = parameters.offsets[m]; k < parameters.offsets[m + 1]; ++k) {
            const auto p = static_cast<std::size_t>(parameters.members[k]);
            if (first_holder[p] < 0) first_holder[p] = static_cast<int>(m);
            any |= ++holder_count[p] == 2;
        }
    }
    if (!any) return sharing;

    sharing.owner_of_all.assign(rows, -1);
    for (std::size_t m = 0; m < rows; ++m) {
        if (parameters.offsets[m] == parameters.offsets[m + 1]) continue;
        bool all_earlier = true;
        for (std::size_t k = parameters.offsets[m]; k < parameters.offsets[m + 1] && all_earlier; ++k) {
            all_earlier = first_holder[parameters.members[k]] < static_cast<int>(m);
        }
        if (all_earlier) sharing.owner_of_all[m] = first_holder[parameters.members[parameters.offsets[m]]];
    }

    // Shared tensors in the order they were first met, each with its holders.
    std::vector<int> slot(count, -1);
    for (std::size_t p = 0; p < count; ++p) {
        if (holder_count[p] < 2) continue;
        slot[p] = static_cast<int>(sharing.offsets.size() - 1);
        sharing.offsets.push_back(sharing.offsets.back() + static_cast<std::size_t>(holder_count[p]));
    }
    sharing.holders.assign(sharing.offsets.back(), -1);
    std::vector<std::size_t> next(sharing.offsets.begin(), sharing.offsets.end() - 1);
    for (std::size_t m = 0; m < rows; ++m) {
        for (std::size_t k = parameters.offsets[m]; k < parameters.offsets[m + 1]; ++k) {
            const int s = slot[parameters.members[k]];
            if (s >= 0) sharing.holders[next[static_cast<std::size_t>(s)]++] = static_cast<int>(m);
        }
    }
    return sharing;
}

SharedConflicts shared_conflicts(const Sharing& sharing,
                                 const std::function<Mode(std::size_t row)>& mode_of) {
    SharedConflicts out;
    // Every holder is compared with the tensor's first holder: each one that
    // disagrees is a conflict of its own to list.
    for (std::size_t s = 0; s + 1 < sharing.offsets.size(); ++s) {
        const auto owner = static_cast<std::size_t>(sharing.holders[sharing.offsets[s]]);
        const Mode owner_mode = mode_of(owner);
        bool in_conflict = false;
        for (std::size_t k = sharing.offsets[s] + 1; k < sharing.offsets[s + 1]; ++k) {
            const auto row = static_cast<std::size_t>(sharing.holders[k]);
            if (row == owner) continue;
            const Mode row_mode = mode_of(row);
            if (row_mode == owner_mode) continue;
            in_conflict = true;
            out.pairs.push_back(SharedConflict{row, owner, row_mode, owner_mode, 1});
        }
        out.tensors += in_conflict ? 1 : 0;
    }
    const auto key = [](const SharedConflict& c) { return std::make_tuple(c.row, c.owner); };
    std::stable_sort(out.pairs.begin(), out.pairs.end(),
                     [&](const SharedConflict& a, const SharedConflict& b) { return key(a) < key(b); });
    std::vector<SharedConflict> merged;
    for (const SharedConflict& pair : out.pairs) {
        if (!merged.empty() && key(merged.back()) == key(pair)) {
            merged.back().tensors += pair.tensors;
        } else {
            merged.push_back(pair);
        }
    }
    out.pairs = std::move(merged);
    return out;
}

std::optional<Unreached> unreached_parameters(const ModuleTable& table) {
    if (!table.model_parameters || !every_module_readable(table)) return std::nullopt;
    const Parameters& parameters = table.parameters;
    std::vector<unsigned char> held(parameters.numel.size(), 0);
    for (const std::uint32_t p : parameters.members) held[p] = 1;
    Unreached found;
    const ModelParameters& own = *table.model_parameters;
    for (std::size_t k = 0; k < own.names.size(); ++k) {
        if (held[own.parameters[k]]) continue;  // a row holds it too: its rules reach it
        found.names.push_back(own.names[k]);
        found.elements += parameters.numel[own.parameters[k]];
    }
    if (found.names.empty()) return std::nullopt;
    return found;
}

TypeRuleHints type_rule_hints(const ModuleTable& table, const Name& rule, NameOracle& oracle) {
    TypeRuleHints hints;
    if (!rule.is_text()) return hints;
    hints.matches_nothing = true;
    for (const Name& type_name : table.class_names) {
        if (equal(type_name, rule, oracle)) hints.matches_nothing = false;
    }
    std::map<int, std::size_t> listed;  // class name slot -> position in near_misses
    for (const ClassUse& use : table.class_uses) {
        const Name& own = table.class_names[static_cast<std::size_t>(use.type_slot)];
        if (equal(own, rule, oracle)) continue;
        const bool derived = std::any_of(use.base_names.begin(), use.base_names.end(),
                                         [&](const Name& base) { return equal(base, rule, oracle); });
        if (!derived) continue;
        auto [at, fresh] = listed.emplace(use.type_slot, hints.near_misses.size());
        if (fresh) hints.near_misses.push_back(NearMiss{own, 0});
        hints.near_misses[at->second].count += use.count;
    }
    return hints;
}

}  // namespace nvx::model
