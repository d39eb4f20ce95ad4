// Keys of the Targets screen: movement, expanding restructured modules, id
// and type rules, clearing, undo and redo of rule changes, the next module
// that needs a mode, finding modules, and the type-rules, legend and
// overrides overlays. Every rule change goes through the model's rules over
// the configuration object's lists, and so do undo and redo, so the lists stay
// normalised and the configuration object sees the calls a user would make.
#include <algorithm>

#include "core/text/display_text.hpp"
#include "session.hpp"

namespace nvx::session {
namespace {

model::ModeArgument argument_of(model::Mode mode) {
    return mode == model::Mode::Dendrified ? model::ModeArgument::Dendrified : model::ModeArgument::Tracked;
}

std::u32string verb(model::Mode mode) {
    return std::u32string(model::mode_verb(mode));
}

}  // namespace

const std::vector<int>& Session::visible_clamped() {
    const std::vector<int>& shown = model_->visible(state_.open_modules);
    const auto count = static_cast<long long>(shown.size());
    if (state_.target_selected >= count) state_.target_selected = std::max(0LL, count - 1);
    return shown;
}

void Session::targets_key(keys::Action action) {
    using keys::Action;
    const std::vector<int>& shown = visible_clamped();
    const auto count = static_cast<long long>(shown.size());
    if (count == 0) return;
    const auto row = static_cast<std::size_t>(shown[static_cast<std::size_t>(state_.target_selected)]);
    const model::ModuleTable& table = model_->table();
    long long& selected = state_.target_selected;
    if (const auto step = cursor_step(action)) {
        selected = moved(selected, *step, count);
        return;
    }

    switch (action) {
        case Action::OpenTypeRules:
            state_.overlay = Overlay::TypeRules;
            break;
        case Action::OpenLegend:
            state_.overlay = Overlay::Legend;
            break;
        case Action::Expand:
        case Action::Collapse:
            if (table.replaced_root(row)) {
                const std::size_t group = model_->group_of_root(row);
                if (action == Action::Expand) {
                    state_.open_modules.insert(group);
                } else {
                    state_.open_modules.erase(group);
                }
            }
            break;
        case Action::DendrifyModule:
        case Action::TrackModule:
            if (table.replaced_root(row) || table.inside_replaced(row)) {
                state_.status = model_->text_of(table.id(row)) +
                                U" is inside a module that will be restructured \u2014 its id won't exist at "
                                U"training time. Use P/T to target by type instead.";
            } else {
                change_rule(RuleChange::Action::SetIdMode, row,
                            action == Action::DendrifyModule ? model::ModeArgument::Dendrified
                                                             : model::ModeArgument::Tracked);
            }
            break;
        case Action::DendrifyType:
        case Action::TrackType:
            if (table.replaced_root(row)) {
                state_.status =
                    U"Set a mode on this module's children by type, not on the container that will be "
                    U"restructured.";
            } else {
                change_rule(RuleChange::Action::SetTypeMode, row,
                            action == Action::DendrifyType ? model::ModeArgument::Dendrified
                                                           : model::ModeArgument::Tracked);
            }
            break;
        case Action::ClearModule:
            change_rule(RuleChange::Action::Clear, row, model::ModeArgument::Other);
            break;
        case Action::OpenOverrides: {
            const model::OverrideScope scope = model_->override_scope(row);
            if (scope.kind == model::OverrideScope::Kind::Refused) {
                state_.status = scope.reason;
            } else {
                const bool by_id = scope.kind == model::OverrideScope::Kind::ById;
                state_.scope = {by_id, model_->text_of(by_id ? table.id(row) : table.type_name(row))};
                state_.overrides_selected = 0;
                state_.describe_name.clear();
                state_.overlay = Overlay::Overrides;
            }
            break;
        }
        case Action::Undo:
            undo_rule_change();
            break;
        case Action::Redo:
            redo_rule_change();
            break;
        case Action::NextUnset:
            select_next_unset();
            break;
        case Action::OpenSearch:
            open_search();
            break;
        case Action::NextMatch:
        case Action::PreviousMatch:
            search_again(action == Action::NextMatch ? 1 : -1);
            break;
        case Action::First:
            selected = 0;
            break;
        case Action::Last:
            selected = count - 1;
            break;
        default:
            break;
    }
}

std::u32string Session::perform(const RuleChange& change) {
    const model::ModuleTable& table = model_->table();
    const std::unique_ptr<RuleLists> lists = world_.rule_lists();
    switch (change.action) {
        case RuleChange::Action::SetIdMode:
            model::set_id_mode(*lists, table.id(change.row), change.mode, lists->oracle());
            return U"";
        case RuleChange::Action::SetTypeMode:
            model::set_name_mode(*lists, table.type_name(change.row), change.mode, lists->oracle());
            return U"";
        case RuleChange::Action::Clear:
            break;
    }
    const model::Name& id = table.id(change.row);
    const model::Name& type_name = table.type_name(change.row);
    const model::Cleared cleared = model::clear_rules(*lists, id, type_name, lists->oracle());
    return model::cleared_text(cleared, model_->text_of(cleared == model::Cleared::Id ? id : type_name));
}

void Session::change_rule(RuleChange::Action action, std::size_t row, model::ModeArgument mode) {
    const model::ModuleTable& table = model_->table();
    const model::Name& id = table.id(row);
    const model::Name& type_name = table.type_name(row);
    const auto id_mode = [&] {
        const std::unique_ptr<RuleLists> lists = world_.rule_lists();
        return model::id_mode(*lists, id, lists->oracle());
    };
    const auto type_mode = [&] {
        const std::unique_ptr<RuleLists> lists = world_.rule_lists();
        return model::name_mode(*lists, type_name, lists->oracle());
    };
    const model::Mode id_before = id_mode();
    const model::Mode type_before = action == RuleChange::Action::SetIdMode ? model::Mode::None : type_mode();
    // The class's count while its rule exists: before a change that may take it off.
    std::int64_t count = type_before == model::Mode::None ? 0 : model_->live_count(type_name);

    RuleChange change{action, row, mode};
    const std::u32string result = perform(change);
    if (action == RuleChange::Action::Clear) state_.status = result;

    model::Mode after = id_mode();
    if (after != id_before) {
        change.before = id_before;
    } else if (action != RuleChange::Action::SetIdMode && (after = type_mode()) != type_before) {
        change.by_type = true;
        change.before = type_before;
        if (after != model::Mode::None) count = model_->live_count(type_name);
    } else {
        return;  // nothing changed, nothing to undo
    }

    std::u32string target = model_->text_of(change.by_type ? type_name : id);
    if (change.by_type) {
        target =
            U"every " + target + U" (" + display::decimal(count) + (count == 1 ? U" module)" : U" modules)");
    }
    change.text = after == model::Mode::None ? U"clear " + verb(change.before) + U" on " + target
                                             : verb(after) + U" " + target;
    state_.history.record(std::move(change));
}

void Session::undo_rule_change() {
    const std::optional<RuleChange> change = state_.history.undo();
    if (!change) {
        state_.status = U"nothing to undo";
        return;
    }
    // The rule goes back to its mode before with the keys a user would press:
    // the same mode key again takes a rule off, the other one sets it.
    const model::ModuleTable& table = model_->table();
    const model::Name& key = change->by_type ? table.type_name(change->row) : table.id(change->row);
    std::unique_ptr<RuleLists> lists = world_.rule_lists();
    const model::Mode now = change->by_type ? model::name_mode(*lists, key, lists->oracle())
                                            : model::id_mode(*lists, key, lists->oracle());
    if (now != change->before) {
        const model::ModeArgument mode =
            argument_of(change->before == model::Mode::None ? now : change->before);
        lists = world_.rule_lists();
        if (change->by_type) {
            model::set_name_mode(*lists, key, mode, lists->oracle());
        } else {
            model::set_id_mode(*lists, key, mode, lists->oracle());
        }
    }
    state_.status = U"undid: " + change->text;
}

void Session::redo_rule_change() {
    const std::optional<RuleChange> change = state_.history.redo();
    if (!change) {
        state_.status = U"nothing to redo";
        return;
    }
    perform(*change);
    state_.status = U"redid: " + change->text;
}

void Session::select_next_unset() {
    const std::vector<int> unset = model_->unset_rows();
    if (unset.empty()) {
        state_.status = U"no module needs a mode";
        return;
    }
    std::vector<int> shown = model_->visible(state_.open_modules);
    const int current = state_.target_selected < static_cast<long long>(shown.size())
                            ? shown[static_cast<std::size_t>(state_.target_selected)]
                            : -1;
    auto next = std::upper_bound(unset.begin(), unset.end(), current);
    if (next == unset.end()) next = unset.begin();
    const auto position = static_cast<std::size_t>(*next);

    // A module inside a closed restructured one is shown by opening it.
    if (model_->table().inside_replaced(position)) {
        state_.open_modules.insert(model_->group_around(position));
        shown = model_->visible(state_.open_modules);
    }
    const auto found = std::lower_bound(shown.begin(), shown.end(), *next);
    if (found != shown.end() && *found == *next) state_.target_selected = found - shown.begin();

    const std::size_t k = static_cast<std::size_t>(next - unset.begin()) + 1;
    const std::size_t n = unset.size();
    state_.status = display::decimal(k) + U" of " + display::decimal(n) +
                    (n == 1 ? U" module that needs a mode" : U" modules that need a mode");
}

}  // namespace nvx::session
