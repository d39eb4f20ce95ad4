// The target model of one session: the model's table, read once, and what each
// pass asks of it, recomputed only when its inputs change. A pass that changes
// no rule reads the four rule lists, finds them equal to the last pass's, and
// does no work that grows with the model: the resolution, the count of modules
// that need a mode, the budget line and the shared-tensor conflicts are kept
// from the pass that computed them; the visible rows are kept until the set of
// open restructured modules changes; only the rows the window shows are drawn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/layout/frame.hpp"
#include "core/model/module_search.hpp"
#include "core/model/override_scope.hpp"
#include "core/model/queries.hpp"
#include "core/model/resolution.hpp"
#include "core/screens/page_pieces.hpp"
#include "core/screens/row_views.hpp"
#include "world.hpp"

namespace nvx::session {

// The restructured modules that are open (their rows shown), each by its
// group: one group per distinct restructured module id, compared as the keys
// of a dictionary compare.
using OpenGroups = std::set<std::size_t>;
// Scope keys that hold per-module overrides (the rows and type rules they mark).
using MarkedScopes = std::unordered_set<std::u32string>;

class SessionModel {
public:
    explicit SessionModel(ModelSource& source);
    SessionModel(const SessionModel&) = delete;
    SessionModel& operator=(const SessionModel&) = delete;

    const model::ModuleTable& table() const { return *table_; }
    std::size_t size() const { return table_->size(); }
    model::NameOracle& oracle() { return source_.oracle(); }

    // This pass's resolution, from the lists `lists` reads now; resolved again
    // only when they differ from the lists of the last resolution.
    const model::Resolution& resolve(std::unique_ptr<RuleLists> lists);

    // The group of restructured module row `row` (by its id), and the group
    // of the restructured module row `row` lies in (by its "replaced_root").
    std::size_t group_of_root(std::size_t row);
    std::size_t group_around(std::size_t row);

    // The rows shown while the groups in `open` are open; kept until `open` changes.
    const std::vector<int>& visible(const OpenGroups& open);

    // Of the last resolution: the rows that need a mode, the budget line and
    // the rows holding one tensor with different modes.
    const std::vector<int>& unset_rows();
    std::u32string budget_line();
    const model::SharedConflicts& conflicts();
    // The type rules of the lists read by the last resolution.
    std::size_t type_rule_count() const;
    // The live count of a type rule on `type_name`.
    std::int64_t live_count(const model::Name& type_name);

    // The Targets screen of this pass (after `resolve`): the visible rows,
    // `selected` among them; rows of ids in `marked` carry the override mark.
    layout::ScreenFrame targets_frame(const OpenGroups& open, std::size_t selected,
                                      const MarkedScopes& marked);
    // The type-rules block of the lists `lists` reads, at most `max_columns`
    // wide; rules on classes in `marked` carry the override mark.
    overlays::Lines type_rules_block(RuleLists& lists, const MarkedScopes& marked, std::size_t max_columns);

    // The override scope row `row` opens on Enter (after `resolve`).
    model::OverrideScope override_scope(std::size_t row);
    // The save overlay of this pass, `selected` the highlighted option, if any.
    layout::PageFrame save_page(std::optional<std::size_t> selected,
                                const std::u32string& config_target_path);

    // `str()` of a name, and the shown text of a row's id (control characters escaped).
    std::u32string text_of(const model::Name& name) { return model::text_of(name, oracle()); }
    std::u32string shown_id(std::size_t row);

    model::ModuleSearch& search();

private:
    class Rows;
    bool same_lists(const model::RuleSets& lists) const;
    std::size_t group_of(const model::Name& key);

    ModelSource& source_;
    const model::ModuleTable* table_;
    model::Resolver resolver_;
    // The lists read by the last resolution (their names point into them).
    std::unique_ptr<RuleLists> last_lists_;
    model::RuleSets last_sets_;
    model::Resolution resolution_;
    std::optional<std::vector<int>> unset_;
    std::optional<std::u32string> budget_;
    std::optional<model::SharedConflicts> conflicts_;
    std::optional<model::Sharing> sharing_;
    std::optional<model::ChildCounts> children_;
    std::optional<std::vector<std::int64_t>> live_counts_;
    std::optional<std::optional<model::Unreached>> unreached_;

    // Restructured module groups: their keys, the text ones indexed; the group
    // of each row inside a restructured module (-1 outside), found once.
    std::vector<model::Name> group_keys_;
    std::unordered_map<std::string_view, std::size_t> text_groups_;
    bool opaque_groups_ = false;
    std::optional<std::vector<long long>> group_inside_;
    std::set<std::size_t> inside_groups_;  // the groups that hold rows
    std::unordered_map<std::size_t, std::size_t> root_groups_;

    // The visible rows and the open groups they were made for.
    std::vector<int> visible_;
    std::vector<std::size_t> visible_open_;
    bool visible_known_ = false;
    std::shared_ptr<targets::LineIndex> line_index_;
    std::unique_ptr<model::ModuleSearch> search_;
    targets::CountTexts counts_;
    targets::ClassNameTexts class_texts_;
};

}  // namespace nvx::session
