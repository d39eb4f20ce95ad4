#include "session_model.hpp"

#include <algorithm>
#include <utility>

#include "core/screens/save_text.hpp"
#include "core/screens/type_rules_text.hpp"
#include "core/text/display_text.hpp"

namespace nvx::session {
namespace {

using model::Field;

}  // namespace

// The rows of one pass, drawn from the session's table and resolution.
class SessionModel::Rows final : public targets::RowSource {
public:
    Rows(SessionModel& model, const OpenGroups& open, const MarkedScopes& marked)
        : model_(model), open_(open), marked_(marked) {}

    const targets::LineIndex& index() override { return *model_.line_index_; }

    targets::RowView row(std::size_t position) override {
        const auto row = static_cast<std::size_t>(model_.visible_[position]);
        const model::ModuleTable& table = model_.table();
        targets::RowView view;
        view.indent = targets::indent_text(table.indents.at(row, Field::Depth));
        view.id = model_.shown_id(row);
        view.type_name = model_.class_texts_.of(table, row, model_.oracle());
        if (table.replaced_root(row)) {
            if (!model_.children_) model_.children_.emplace(table);
            view.layout = targets::RowView::Layout::ReplacedRoot;
            view.children = model_.children_->of(table.id(row), model_.oracle());
            view.open = open_.count(model_.group_of_root(row)) != 0;
            return view;
        }
        if (table.inside_replaced(row)) {
            view.layout = targets::RowView::Layout::Stale;
            return view;
        }
        const model::Resolution& resolution = model_.resolution_;
        const bool owns = table.owns(row);
        const bool inherited = resolution.source[row] == model::Source::Inherited;
        targets::set_mode_part(
            view, owns, resolution.eff[row], resolution.source[row],
            inherited ? model_.shown_id(static_cast<std::size_t>(resolution.origin[row])) : U"",
            resolution.own_mode[row]);
        view.override_mark = !marked_.empty() && marked_.count(model_.text_of(table.id(row))) != 0;
        view.has_params = owns;
        if (owns) view.params = model_.counts_.of(table, row);
        if (!model_.sharing_) model_.sharing_ = model::find_sharing(table);
        const int owner = model_.sharing_->owner_of(row);
        if (owns && owner >= 0) view.shared_with = model_.shown_id(static_cast<std::size_t>(owner));
        return view;
    }

private:
    SessionModel& model_;
    const OpenGroups& open_;      // the session's, which outlives the frame
    const MarkedScopes& marked_;  // the pass's, which outlives the frame
};

SessionModel::SessionModel(ModelSource& source)
    : source_(source), table_(&source.table()), resolver_(source.table()) {}

bool SessionModel::same_lists(const model::RuleSets& lists) const {
    if (!last_lists_) return false;
    for (std::size_t k = 0; k < lists.size(); ++k) {
        const model::RuleList& now = lists[k]->list();
        const model::RuleList& before = last_sets_[k]->list();
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

const model::Resolution& SessionModel::resolve(std::unique_ptr<RuleLists> lists) {
    model::RuleSets sets = model::read_rule_sets(*lists, lists->oracle());
    if (same_lists(sets)) return resolution_;
    resolver_.resolve(sets, resolution_);
    last_sets_ = std::move(sets);
    last_lists_ = std::move(lists);
    unset_.reset();
    budget_.reset();
    conflicts_.reset();
    return resolution_;
}

std::size_t SessionModel::group_of(const model::Name& key) {
    if (key.is_text()) {
        const auto found = text_groups_.find(key.text);
        if (found != text_groups_.end()) return found->second;
    }
    if (!key.is_text() || opaque_groups_) {
        for (std::size_t group = 0; group < group_keys_.size(); ++group) {
            if (model::same_key(group_keys_[group], key, oracle())) return group;
        }
    }
    if (key.is_text()) {
        text_groups_.emplace(key.text, group_keys_.size());
    } else {
        opaque_groups_ = true;
    }
    group_keys_.push_back(key);
    return group_keys_.size() - 1;
}

std::size_t SessionModel::group_of_root(std::size_t row) {
    const auto found = root_groups_.find(row);
    if (found != root_groups_.end()) return found->second;
    const std::size_t group = group_of(table().id(row));
    root_groups_.emplace(row, group);
    return group;
}

std::size_t SessionModel::group_around(std::size_t row) {
    if (!group_inside_) {
        std::vector<long long> groups(size(), -1);
        for (std::size_t at = 0; at < size(); ++at) {
            if (!table().inside_replaced(at)) continue;
            const std::size_t group = group_of(table().replaced_roots.at(at, Field::ReplacedRoot));
            groups[at] = static_cast<long long>(group);
            inside_groups_.insert(group);
        }
        group_inside_ = std::move(groups);
    }
    return static_cast<std::size_t>((*group_inside_)[row]);
}

const std::vector<int>& SessionModel::visible(const OpenGroups& open) {
    if (size() > 0) group_around(0);  // every row's group, found once
    // The open groups that hold rows.
    std::vector<std::size_t> relevant;
    for (const std::size_t group : open) {
        if (inside_groups_.count(group) != 0) relevant.push_back(group);
    }
    if (visible_known_ && relevant == visible_open_) return visible_;
    visible_open_ = std::move(relevant);
    visible_ =
        model::visible_rows(table(), [&](std::size_t row) { return open.count(group_around(row)) != 0; });
    std::vector<std::size_t> two_lines;
    for (std::size_t position = 0; position < visible_.size(); ++position) {
        if (table().replaced_root(static_cast<std::size_t>(visible_[position])))
            two_lines.push_back(position);
    }
    line_index_ = std::make_shared<targets::LineIndex>(visible_.size(), std::move(two_lines));
    visible_known_ = true;
    return visible_;
}

const std::vector<int>& SessionModel::unset_rows() {
    if (!unset_) {
        std::vector<int> rows;
        model::each_unset(
            table(), [&](std::size_t row) { return resolution_.eff[row] == model::Mode::None; },
            [&](std::size_t row) { rows.push_back(static_cast<int>(row)); });
        unset_ = std::move(rows);
    }
    return *unset_;
}

std::u32string SessionModel::budget_line() {
    if (!budget_) {
        budget_ = model::budget_text(model::budget_sums(
            table(), [&](std::size_t row) { return resolution_.eff[row] == model::Mode::Dendrified; }));
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
    return last_sets_[2]->list().values.size() + last_sets_[3]->list().values.size();
}

std::int64_t SessionModel::live_count(const model::Name& type_name) {
    if (!live_counts_) live_counts_ = model::live_counts_by_slot(table());
    return model::live_count(table(), *live_counts_, type_name, oracle());
}

std::u32string SessionModel::shown_id(std::size_t row) {
    return targets::shown_text(table().id(row), oracle());
}

layout::ScreenFrame SessionModel::targets_frame(const OpenGroups& open, std::size_t selected,
                                                const MarkedScopes& marked) {
    visible(open);
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
            targets::conflict_note(found.pairs.front(), [&](std::size_t row) { return shown_id(row); });
        foot.conflict_tensors = found.tensors;
    }
    if (unreached_->has_value()) foot.unreached = targets::unreached_note(**unreached_);
    return targets::targets_frame(head, std::make_shared<Rows>(*this, open, marked), selected, foot);
}

overlays::Lines SessionModel::type_rules_block(RuleLists& lists, const MarkedScopes& marked,
                                               std::size_t max_columns) {
    source_.load_class_uses();
    const std::vector<model::TypeRule> found = model::type_rules(table(), lists, lists.oracle());
    std::vector<overlays::TypeRuleView> views = targets::type_rule_views(table(), found, lists.oracle());
    if (!marked.empty()) {
        for (std::size_t k = 0; k < views.size(); ++k) {
            views[k].override_mark = marked.count(model::text_of(found[k].name, lists.oracle())) != 0;
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
            return model_.text_of(
                model_.table().id(static_cast<std::size_t>(model_.resolution_.origin[row_])));
        }
        bool dendrified() override { return model_.resolution_.eff[row_] == model::Mode::Dendrified; }
        bool by_type() override { return model_.resolution_.source[row_] == model::Source::Type; }

    private:
        SessionModel& model_;
        std::size_t row_;
    } facts(*this, row);
    return model::override_scope(facts);
}

layout::PageFrame SessionModel::save_page(std::optional<std::size_t> selected,
                                          const std::u32string& config_target_path) {
    const std::vector<int>& unset = unset_rows();
    std::vector<std::pair<std::u32string, std::u32string>> listed;
    for (std::size_t k = 0; k < unset.size() && k < overlays::kSaveListedUnset; ++k) {
        const auto row = static_cast<std::size_t>(unset[k]);
        listed.emplace_back(shown_id(row), targets::shown_text(table().type_name(row), oracle()));
    }
    std::vector<std::u32string> conflict_texts;
    const model::SharedConflicts& found = conflicts();
    for (const model::SharedConflict& pair : found.pairs) {
        conflict_texts.push_back(targets::conflict_text(
            targets::conflict_note(pair, [&](std::size_t row) { return shown_id(row); })));
    }
    return overlays::save_frame(listed, unset.size(), selected, config_target_path, conflict_texts,
                                found.tensors);
}

model::ModuleSearch& SessionModel::search() {
    if (!search_) {
        search_ = std::make_unique<model::ModuleSearch>(
            size(), [&](std::size_t row) { return source_.folded_names(row); });
    }
    return *search_;
}

}  // namespace nvx::session
