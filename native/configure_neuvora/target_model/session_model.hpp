// The target model of one session: its entries read once into the model's
// table, and what each pass asks of it, recomputed only when its inputs
// change. A pass that changes no rule reads the four rule lists, finds them
// equal to the last pass's, and does no work that grows with the model: the
// resolution, the count of modules that need a mode, the budget line and the
// shared-tensor conflicts are kept from the pass that computed them; the
// visible rows are kept until the set of expanded modules changes; only the
// rows the window shows are drawn.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "config_rules.hpp"
#include "core/layout/frame.hpp"
#include "core/model/module_search.hpp"
#include "core/model/override_scope.hpp"
#include "core/model/queries.hpp"
#include "core/model/resolution.hpp"
#include "core/screens/save_text.hpp"
#include "core/screens/targets_frame.hpp"
#include "core/screens/type_rules_text.hpp"
#include "entry_reader.hpp"
#include "row_views.hpp"

namespace nvx::target {
namespace py = pybind11;

class SessionModel {
public:
    // Reads every entry of `entries` (a list the session keeps unchanged) and
    // the parameters `model` holds itself.
    SessionModel(const py::list& entries, const py::object& model);
    SessionModel(const SessionModel&) = delete;
    SessionModel& operator=(const SessionModel&) = delete;

    // True while `entries` is the list read, holding the same entries.
    bool describes(const py::handle& entries) const;

    const model::ModuleTable& table() const { return reader_.table(); }
    std::size_t size() const { return reader_.size(); }
    py::handle entry(std::size_t row) const { return reader_.entry(row); }
    const py::object& id_object(std::size_t row) const { return reader_.id_object(row); }
    PyOracle& oracle() { return reader_.oracle(); }

    // This pass's resolution, from the four lists read now; resolved again
    // only when they differ from the lists of the last resolution.
    const model::Resolution& resolve();
    // The map `resolve_entry_modes` gives for it (built once per resolution).
    py::object records();

    // The rows shown while the restructured modules whose ids `expanded`
    // maps to a true value are open; kept until that set changes.
    const std::vector<int>& visible(const py::handle& expanded);
    // Whether row `row`'s restructured module is open in `expanded`.
    static bool root_open(const py::handle& expanded, const py::handle& root);

    // Of the last resolution: the rows that need a mode, their number, the
    // budget line and the rows holding one tensor with different modes.
    const std::vector<int>& unset_rows();
    std::u32string budget_line();
    const model::SharedConflicts& conflicts();
    // The type rules of the lists read by the last resolution.
    std::size_t type_rule_count() const;
    // The live count of a type rule on `type_name`.
    std::int64_t live_count(const py::handle& type_name);

    // The Targets screen of this pass (after `resolve`): rows by `visible`
    // positions, `selected` among them; rows and type rules of the scope keys
    // in `override_marked` carry the override mark.
    layout::ScreenFrame targets_frame(const py::handle& expanded, std::size_t selected,
                                      const py::handle& override_marked);
    // The type-rules block of this pass, at most `max_columns` wide.
    overlays::Lines type_rules_block(const py::handle& override_marked,
                                     std::optional<std::size_t> max_columns);

    // The override scope row `row` opens on Enter (after `resolve`).
    model::OverrideScope override_scope(std::size_t row);
    // The save overlay of this pass, `selected` the highlighted option, if any.
    layout::PageFrame save_page(std::optional<std::size_t> selected,
                                const std::u32string& config_target_path);

    // The shown text of a row's id (control characters escaped).
    std::u32string shown_id(std::size_t row);

    model::ModuleSearch& search();

private:
    class Rows;
    bool same_lists(const model::RuleSets& lists) const;

    // The rule lists read by one resolution, with the objects of their values.
    struct PassLists {
        ObjectPool pool;
        std::unique_ptr<ConfigRules> rules;
        model::RuleSets sets;
    };

    EntryReader reader_;
    model::Resolver resolver_;
    std::unique_ptr<PassLists> last_lists_;
    model::Resolution resolution_;
    py::object records_;
    std::optional<std::vector<int>> unset_;
    std::optional<std::u32string> budget_;
    std::optional<model::SharedConflicts> conflicts_;
    std::optional<model::Sharing> sharing_;
    std::optional<model::ChildCounts> children_;
    std::optional<std::vector<std::int64_t>> live_counts_;
    std::optional<std::optional<model::Unreached>> unreached_;
    // The first row inside each restructured module.
    std::optional<std::vector<std::size_t>> roots_;
    // The visible rows and the open restructured modules they were made for.
    std::vector<int> visible_;
    std::vector<std::size_t> visible_open_;
    bool visible_known_ = false;
    std::shared_ptr<targets::LineIndex> line_index_;
    std::unique_ptr<model::ModuleSearch> search_;
    CountTexts counts_;
    ClassNameTexts class_texts_;
};

}  // namespace nvx::target
