#include "session_model.hpp"

#include <cstring>

#include "common/interp.hpp"
#include "config_rules.hpp"
#include "core/text/display_text.hpp"
#include "core/text/human_count.hpp"
#include "records.hpp"
#include "row_views.hpp"

namespace nvx::target {
namespace {

using model::Field;

}  // namespace

// The rows of one pass, drawn from the session's table and resolution.
class SessionModel::Rows final : public targets::RowSource {
public:
    Rows(SessionModel& model, py::handle expanded, py::handle marked)
        : model_(model),
          expanded_(py::reinterpret_borrow<py::object>(expanded)),
          marked_(py::reinterpret_borrow<py::object>(marked)) {}

    const targets::LineIndex& index() override { return *model_.line_index_; }

    targets::RowView row(std::size_t position) override {
        const auto row = static_cast<std::size_t>(model_.visible_[position]);
        const model::ModuleTable& table = model_.table();
        targets::RowView view;
        view.indent = indent_text(table.indents.at(row, Field::Depth));
        view.id = model_.shown_id(row);
        view.type_name = model_.class_texts_.of(table, row, model_.oracle());
        if (table.replaced_root(row)) {
            if (!model_.children_) model_.children_.emplace(table);
            view.layout = targets::RowView::Layout::ReplacedRoot;
            view.children = model_.children_->of(table.id(row), model_.oracle());
            view.open = root_open(expanded_, model_.id_object(row));
            return view;
        }
        if (table.inside_replaced(row)) {
            view.layout = targets::RowView::Layout::Stale;
            return view;
        }
        const model::Resolution& resolution = model_.resolution_;
        const bool owns = table.owns(row);
        const bool inherited = resolution.source[row] == model::Source::Inherited;
        set_mode_part(view, owns, resolution.eff[row], resolution.source[row],
                      inherited ? model_.shown_id(static_cast<std::size_t>(resolution.origin[row])) : U"",
                      resolution.own_mode[row]);
        view.override_mark = marked_ && contains(marked_, model_.id_object(row));
        view.has_params = owns;
        if (owns) view.params = model_.counts_.of(table, row);
        if (!model_.sharing_) model_.sharing_ = model::find_sharing(table);
        const int owner = model_.sharing_->owner_of(row);
        if (owns && owner >= 0) view.shared_with = model_.shown_id(static_cast<std::size_t>(owner));
        return view;
    }

private:
    SessionModel& model_;
    py::object expanded_;
    py::object marked_;
};

SessionModel::SessionModel(const py::list& entries, const py::object& model)
    : reader_(entries), resolver_(reader_.table()) {
    reader_.load({Field::Id, Field::TypeName, Field::Depth, Field::DirectParamCount, Field::IsReplacedRoot,
                  Field::InReplaced, Field::ReplacedRoot});
    reader_.load_parents();
    reader_.load_model_parameters(model);
}

bool SessionModel::describes(const py::handle& entries) const {
    const py::object& read = reader_.entries();
    if (entries.ptr() != read.ptr() || !PyList_CheckExact(entries.ptr()) ||
        static_cast<std::size_t>(PyList_GET_SIZE(entries.ptr())) != size()) {
        return false;
    }
    for (std::size_t row = 0; row < size(); ++row) {
        if (PyList_GET_ITEM(entries.ptr(), static_cast<Py_ssize_t>(row)) != reader_.entry(row).ptr())
            return false;
    }
    return true;
}

bool SessionModel::same_lists(const model::RuleSets& lists) const {
    if (!last_lists_) return false;
    for (std::size_t k = 0; k < lists.size(); ++k) {
        const model::RuleList& now = lists[k]->list();
        const model::RuleList& before = last_lists_->sets[k]->list();
        if (now.asks_container || before.asks_container || now.values.size() != before.values.size())
            return false;
        for (std::size_t i = 0; i < now.values.size(); ++i) {
            // Values that are not text may compare as they like: resolved again.
            if (!now.values[i].is_text() || !before.values[i].is_text() ||
                now.values[i].text != before.values[i].text)
                return false;
        }
    }
    return true;
}

const model::Resolution& SessionModel::resolve() {
    auto read = std::make_unique<PassLists>();
    read->rules = std::make_unique<ConfigRules>(read->pool);
    read->sets = model::read_rule_sets(*read->rules, read->rules->oracle());
    if (same_lists(read->sets)) return resolution_;
    reader_.run([&] { resolver_.resolve(read->sets, resolution_); });
    last_lists_ = std::move(read);
    records_ = py::object();
    unset_.reset();
    budget_.reset();
    conflicts_.reset();
    return resolution_;
}

py::object SessionModel::records() {
    if (!records_) records_ = record_map(reader_, resolution_);
    return records_;
}

bool SessionModel::root_open(const py::handle& expanded, const py::handle& root) {
    if (PyDict_CheckExact(expanded.ptr())) {
        PyObject* found = PyDict_GetItemWithError(expanded.ptr(), root.ptr());
        if (found == nullptr && PyErr_Occurred()) throw py::error_already_set();
        return found != nullptr && truthy(found);
    }
    return truthy(expanded.attr("get")(root, py::bool_(false)));
}

const std::vector<int>& SessionModel::visible(const py::handle& expanded) {
    const model::ModuleTable& table = reader_.table();
    if (!roots_) {
        // The restructured modules rows lie in, each by the first row inside it.
        std::vector<std::size_t> roots;
        std::unordered_set<std::string_view> seen;
        reader_.run([&] {
            for (std::size_t row = 0; row < size(); ++row) {
                if (!table.inside_replaced(row)) continue;
                const model::Name& root = table.replaced_roots.at(row, Field::ReplacedRoot);
                if (!root.is_text() || seen.insert(root.text).second) roots.push_back(row);
            }
        });
        roots_ = std::move(roots);
    }
    // The restructured modules open now.
    std::vector<std::size_t> open;
    for (const std::size_t row : *roots_) {
        if (root_open(expanded, reader_.oracle().object_of(table.replaced_roots.values[row])))
            open.push_back(row);
    }
    if (visible_known_ && open == visible_open_) return visible_;
    visible_open_ = std::move(open);
    std::unordered_set<std::string_view> open_texts;
    for (const std::size_t row : visible_open_) {
        const model::Name& root = table.replaced_roots.values[row];
        if (root.is_text()) open_texts.insert(root.text);
    }
    visible_ = reader_.run([&] {
        return model::visible_rows(table, [&](std::size_t row) {
            const model::Name& root = table.replaced_roots.at(row, Field::ReplacedRoot);
            if (root.is_text()) return open_texts.count(root.text) != 0;
            return root_open(expanded, reader_.oracle().object_of(root));
        });
    });
    std::vector<std::size_t> two_lines;
    for (std::size_t position = 0; position < visible_.size(); ++position) {
        if (table.replaced_root(static_cast<std::size_t>(visible_[position]))) two_lines.push_back(position);
    }
    line_index_ = std::make_shared<targets::LineIndex>(visible_.size(), std::move(two_lines));
    visible_known_ = true;
    return visible_;
}

const std::vector<int>& SessionModel::unset_rows() {
    if (!unset_) {
        std::vector<int> rows;
        reader_.run([&] {
            model::each_unset(
                table(), [&](std::size_t row) { return resolution_.eff[row] == model::Mode::None; },
                [&](std::size_t row) { rows.push_back(static_cast<int>(row)); });
        });
        unset_ = std::move(rows);
    }
    return *unset_;
}

std::u32string SessionModel::budget_line() {
    if (!budget_) {
        budget_ = model::budget_text(reader_.run([&] {
            return model::budget_sums(
                table(), [&](std::size_t row) { return resolution_.eff[row] == model::Mode::Dendrified; });
        }));
    }
    return *budget_;
}

const model::SharedConflicts& SessionModel::conflicts() {
    if (!conflicts_) {
        if (!sharing_) sharing_ = model::find_sharing(table());
        conflicts_ =
            model::shared_conflicts(*sharing_, [&](std::size_t row) { return resolution_.eff[row]; });
    }
    return *conflicts_;
}

std::size_t SessionModel::type_rule_count() const {
    if (!last_lists_) return 0;
    return last_lists_->sets[2]->list().values.size() + last_lists_->sets[3]->list().values.size();
}

std::int64_t SessionModel::live_count(const py::handle& type_name) {
    if (!live_counts_) live_counts_ = reader_.run([&] { return model::live_counts_by_slot(table()); });
    const model::Name name = read_name(type_name.ptr(), reader_.pool(), false);
    return model::live_count(table(), *live_counts_, name, reader_.oracle());
}

std::u32string SessionModel::shown_id(std::size_t row) {
    return shown_text(table().id(row), reader_.oracle());
}

layout::ScreenFrame SessionModel::targets_frame(const py::handle& expanded, std::size_t selected,
                                                const py::handle& override_marked) {
    visible(expanded);
    targets::TargetsHead head;
    head.need = unset_rows().size();
    head.type_rules = type_rule_count();
    if (!unreached_) unreached_ = model::unreached_parameters(table());
    head.all_reached = !unreached_->has_value();

    targets::TargetsFoot foot;
    foot.budget = budget_line();
    const model::SharedConflicts& found = conflicts();
    if (!found.pairs.empty()) {
        foot.first_conflict =
            conflict_note(found.pairs.front(), [&](std::size_t row) { return shown_id(row); });
        foot.conflict_tensors = found.tensors;
    }
    if (unreached_->has_value()) foot.unreached = unreached_note(**unreached_);
    auto rows = std::make_shared<Rows>(*this, expanded, override_marked);
    return targets::targets_frame(head, rows, selected, foot);
}

overlays::Lines SessionModel::type_rules_block(const py::handle& override_marked,
                                               std::optional<std::size_t> max_columns) {
    reader_.load_parameters();
    reader_.load_class_uses();
    ObjectPool pool;
    ConfigRules rules(pool);
    const std::vector<model::TypeRule> found =
        reader_.run([&] { return model::type_rules(table(), rules, rules.oracle()); });
    std::vector<overlays::TypeRuleView> views = type_rule_views(table(), found, rules.oracle());
    if (override_marked) {
        for (std::size_t k = 0; k < views.size(); ++k) {
            views[k].override_mark = contains(override_marked, rules.oracle().object_of(found[k].name));
        }
    }
    return overlays::type_rules_box(views, max_columns);
}

model::OverrideScope SessionModel::override_scope(std::size_t row) {
    // The facts of a row, from the table and this pass's resolution.
    class Facts final : public model::ScopeFacts {
    public:
        Facts(SessionModel& model, std::size_t row) : model_(model), row_(row) {}
        bool restructured() override {
            return model_.table().replaced_root(row_) || model_.table().inside_replaced(row_);
        }
        bool no_mode() override { return model_.resolution_.eff[row_] == model::Mode::None; }
        bool inherited() override { return model_.resolution_.source[row_] == model::Source::Inherited; }
        std::u32string origin() override {
            return model::text_of(
                model_.table().id(static_cast<std::size_t>(model_.resolution_.origin[row_])),
                model_.oracle());
        }
        bool dendrified() override { return model_.resolution_.eff[row_] == model::Mode::Dendrified; }
        bool by_type() override { return model_.resolution_.source[row_] == model::Source::Type; }

    private:
        SessionModel& model_;
        std::size_t row_;
    } facts(*this, row);
    return reader_.run([&] { return model::override_scope(facts); });
}

layout::PageFrame SessionModel::save_page(std::optional<std::size_t> selected,
                                          const std::u32string& config_target_path) {
    const std::vector<int>& unset = unset_rows();
    std::vector<std::pair<std::u32string, std::u32string>> listed;
    for (std::size_t k = 0; k < unset.size() && k < overlays::kSaveListedUnset; ++k) {
        const auto row = static_cast<std::size_t>(unset[k]);
        listed.emplace_back(shown_id(row), shown_text(table().type_name(row), oracle()));
    }
    std::vector<std::u32string> conflict_texts;
    const model::SharedConflicts& found = conflicts();
    for (const model::SharedConflict& pair : found.pairs) {
        conflict_texts.push_back(
            targets::conflict_text(conflict_note(pair, [&](std::size_t row) { return shown_id(row); })));
    }
    return overlays::save_frame(listed, unset.size(), selected, config_target_path, conflict_texts,
                                found.tensors);
}

model::ModuleSearch& SessionModel::search() {
    if (!search_) {
        static PyObject* const casefold = intern("casefold");
        auto folded = [&](const model::Name& name) -> std::string {
            py::object text = to_str(reader_.oracle().object_of(name));
            py::object folded_text = steal(PyObject_CallMethodNoArgs(text.ptr(), casefold));
            Py_ssize_t length = 0;
            const char* bytes = PyUnicode_AsUTF8AndSize(folded_text.ptr(), &length);
            if (bytes == nullptr) {
                PyErr_Clear();  // lone surrogates have no UTF-8 form: such a name matches nothing
                return {};
            }
            return std::string(bytes, static_cast<std::size_t>(length));
        };
        const model::ModuleTable& rows = table();
        search_ = std::make_unique<model::ModuleSearch>(rows.size(), [&](std::size_t row) {
            std::string id = rows.ids.present(row) ? folded(rows.ids.values[row]) : std::string();
            std::string type_name =
                rows.type_slots.present(row) ? folded(rows.type_name(row)) : std::string();
            return std::make_pair(std::move(id), std::move(type_name));
        });
    }
    return *search_;
}

}  // namespace nvx::target
