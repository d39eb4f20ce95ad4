// Every row's effective mode from the four rule lists: an ancestor's mode
// first, then an id rule on the row, then a type rule on its class.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "module_table.hpp"
#include "rule_lists.hpp"

namespace nvx::model {

enum class Source : std::uint8_t { None, Inherited, Id, Type };

// The record `resolve_entry_modes` gives each row, without the dictionaries.
struct Resolution {
    std::vector<Mode> eff;
    std::vector<Source> source;
    std::vector<int> origin;  // the row whose id is the origin
    // The row's own rule, ignored while it inherits (Mode::None: no rule of its own).
    std::vector<Mode> own_mode;
    std::vector<Source> own_source;
};

// The four lists as read for one resolution, in RuleKind order.
using RuleSets = std::array<std::unique_ptr<RuleSet>, 4>;
// Reads the lists through `store`, once each, in RuleKind order.
RuleSets read_rule_sets(RuleStore& store, NameOracle& oracle);

// Resolves the rows of one table. Keeps what it learns about the table (each
// row's parent, an index of the ids) for the next resolution.
class Resolver {
public:
    explicit Resolver(const ModuleTable& table) : table_(&table) {}

    // `resolve_entry_modes`: every id is read first, then the lists (once
    // each, through `store`, none for an empty table), then the rows in order.
    void resolve(RuleStore& store, NameOracle& oracle, Resolution& out);
    // The same with lists already read.
    void resolve(const RuleSets& lists, Resolution& out);

    // The row of each row's parent id (-1: none).
    const std::vector<int>& parents();

private:
    void require_ids() const;
    void index_ids();

    const ModuleTable* table_;
    std::vector<int> parents_;
    bool parents_known_ = false;
    std::size_t resolutions_ = 0;
    // Text id -> first row with it; further rows with the same id chained.
    std::unordered_map<std::string_view, int> first_with_id_;
    std::vector<int> next_with_id_;
    bool ids_indexed_ = false;
};

}  // namespace nvx::model
