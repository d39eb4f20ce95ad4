// The pieces the screens draw, made from the target model's values: shown
// texts of names and counts, the mode part of a Targets row, the footer's
// notes, and the rows of the type-rules box.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/model/queries.hpp"
#include "core/model/resolution.hpp"
#include "targets_frame.hpp"
#include "type_rules_text.hpp"

namespace nvx::targets {

// `str(name)` as drawn: control characters escaped.
std::u32string shown_text(const model::Name& name, model::NameOracle& oracle);
// The compact form of row `row`'s own count.
std::u32string count_text(const model::ModuleTable& table, std::size_t row);
// The same, remembered per count (counts repeat across a model).
class CountTexts {
public:
    const std::u32string& of(const model::ModuleTable& table, std::size_t row);

private:
    std::unordered_map<std::int64_t, std::u32string> machine_;
    std::u32string other_;
};
// The shown class name of a row, remembered per class.
class ClassNameTexts {
public:
    const std::u32string& of(const model::ModuleTable& table, std::size_t row, model::NameOracle& oracle);

private:
    std::unordered_map<int, std::u32string> by_slot_;
};

// "  " repeated `repeats` times.
std::u32string indent_text(std::int64_t repeats);

// The colour a mode is drawn in.
ModeColor mode_color(model::Mode mode);
// The marker and tail of a normal row whose record is `eff` from `source`,
// with its own ignored rule `overridden`; `origin` is the shown origin id.
void set_mode_part(RowView& row, bool owns, model::Mode eff, model::Source source,
                   const std::u32string& origin, model::Mode overridden);

// The footer's note on one pair of rows in conflict.
ConflictNote conflict_note(const model::SharedConflict& pair,
                           const std::function<std::u32string(std::size_t row)>& shown_id);
// The footer's note on the parameters the model itself holds.
UnreachedNote unreached_note(const model::Unreached& unreached);

// The type-rules box's rows for `rules`, with their hints.
std::vector<overlays::TypeRuleView> type_rule_views(const model::ModuleTable& table,
                                                    const std::vector<model::TypeRule>& rules,
                                                    model::NameOracle& oracle);

}  // namespace nvx::targets
