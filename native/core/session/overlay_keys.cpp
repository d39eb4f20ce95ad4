// Keys of the overlays. An open overlay takes every key; keys it does not use
// are ignored and never reach the screens (the help, legend, quit and
// type-rules pages scroll with them when taller than the terminal).
#include <algorithm>
#include <memory>
#include <stdexcept>

#include "core/screens/save_text.hpp"
#include "session.hpp"

namespace nvx::session {
namespace {

// How far a page key scrolls a page, and a first row past any page's end.
constexpr long long kPageStep = 10;
constexpr long long kPastTheEnd = 1LL << 40;

}  // namespace

void Session::overlay_key(keys::Action action) {
    using keys::Action;
    switch (state_.overlay) {
        case Overlay::Help:
        case Overlay::Legend:
        case Overlay::Quit:
        case Overlay::TypeRules:
            if (action == Action::Close) {
                state_.overlay = Overlay::None;
            } else if (action == Action::Quit) {
                quit_ = true;
            } else if (action == Action::OpenSave) {
                state_.overlay = Overlay::Save;
                state_.save_selected = 0;
            } else {
                scroll(action, state_.overlay == Overlay::TypeRules ? state_.type_rules_first
                                                                    : state_.page_first_row);
            }
            break;
        case Overlay::Save:
            save_key(action);
            break;
        case Overlay::Overrides:
            overrides_key(action);
            break;
        case Overlay::None:
            break;
    }
}

void Session::scroll(keys::Action action, long long& first_row) {
    using keys::Action;
    switch (action) {
        case Action::ScrollUp:
            first_row -= 1;
            break;
        case Action::ScrollDown:
            first_row += 1;
            break;
        case Action::ScrollPageUp:
            first_row -= kPageStep;
            break;
        case Action::ScrollPageDown:
            first_row += kPageStep;
            break;
        case Action::ScrollTop:
            first_row = 0;
            break;
        case Action::ScrollBottom:
            first_row = kPastTheEnd;
            break;
        default:
            return;
    }
    first_row = std::max(0LL, first_row);
}

void Session::save_key(keys::Action action) {
    using keys::Action;
    // The options the overlay shows, from the list it is drawn from.
    const std::vector<overlays::SaveOption> choices =
        overlays::save_options(model_->unset_rows().size(), U"");
    const auto options = static_cast<long long>(choices.size());
    long long& selected = state_.save_selected;
    switch (action) {
        case Action::MoveUp:
        case Action::MoveDown:
            selected = moved(selected, *cursor_step(action), options);
            break;
        case Action::Close:
            state_.overlay = Overlay::None;
            break;
        case Action::First:
            selected = 0;
            break;
        case Action::Last:
            selected = options - 1;
            break;
        case Action::Choose: {
            const overlays::SaveChoice choice =
                choices[static_cast<std::size_t>(std::clamp(selected, 0LL, options - 1))].choice;
            if (choice == overlays::SaveChoice::KeepEditing) {
                state_.overlay = Overlay::None;
                break;
            }
            // Saved as default, the configuration is confirmed before its outputs are
            // written; for this run only, after. A save that fails puts back what it
            // changed in the configuration object, so that choosing again asks and
            // writes as the first time did.
            const bool as_default = choice == overlays::SaveChoice::AsDefault;
            const std::unique_ptr<SaveCheckpoint> before = world_.configuration().checkpoint();
            if (as_default) world_.configuration().confirm();
            const settings::WriteOutcome saved = finalize_save(as_default);
            if (!saved.ok) {
                // The overlay stays open with the error; nothing the session holds is lost.
                before->restore();
                state_.status = U"Not saved: " + saved.error;
                state_.notice = state_.status;
                break;
            }
            if (!as_default) world_.configuration().confirm();
            saved_ = true;
            break;
        }
        default:
            break;
    }
}

void Session::overrides_key(keys::Action action) {
    using keys::Action;
    const std::vector<settings::Name> names = world_.settings().customizable();
    const auto count = static_cast<long long>(names.size());
    long long& selected = state_.overrides_selected;
    // The selected setting, indexed as a list is (the names may have changed since it was selected).
    const auto selected_name = [&]() -> const settings::Name& {
        const long long at = selected < 0 ? selected + count : selected;
        if (at < 0 || at >= count) throw std::out_of_range("list index out of range");
        return names[static_cast<std::size_t>(at)];
    };
    switch (action) {
        case Action::Close:
            state_.overlay = Overlay::None;
            state_.describe_name.clear();
            break;
        case Action::MoveUp:
        case Action::MoveDown:
            selected = moved(selected, *cursor_step(action), count);
            state_.describe_name.clear();
            break;
        case Action::First:
        case Action::Last:
            selected = action == Action::First ? 0 : std::max(0LL, count - 1);
            state_.describe_name.clear();
            break;
        case Action::Describe:
            if (count > 0) {
                const std::u32string& name = selected_name().text;
                state_.describe_name = state_.describe_name == name ? U"" : name;
            }
            break;
        case Action::Edit:
            if (count > 0) edit_override(selected_name());
            break;
        case Action::RemoveOverride:
            if (count > 0) remove_override(selected_name());
            break;
        case Action::OpenSave:
            state_.overlay = Overlay::Save;
            state_.save_selected = 0;
            break;
        default:
            break;
    }
}

void Session::edit_override(const settings::Name& name) {
    settings::SettingsPort& port = world_.settings();
    const std::u32string& scope_key = state_.scope.key;
    std::optional<settings::Value> current;
    for (auto& [setting, value] :
         settings::merged_scope(scope_key, state_.session_overrides, state_.saved_overrides)) {
        if (setting == name.text) current = std::move(value);
    }
    // The scope's own value when it has one, else the run-wide value.
    if (!current) current = port.read(name);
    const settings::Name scope{scope_key, nullptr};
    switch (settings::edit_kind(*current, port.is_enumerated(name))) {
        case settings::EditKind::Toggle:
            state_.session_overrides.set(scope_key, name.text, settings::Value::boolean(!current->truth));
            break;
        case settings::EditKind::Cycle:
            if (std::optional<settings::Value> next = port.next_option(name, *current)) {
                state_.session_overrides.set(scope_key, name.text, std::move(*next));
            }
            break;
        case settings::EditKind::EditList:
            state_.list_editor = editors::new_list_editor(name, current->items, scope);
            break;
        case settings::EditKind::EditNumber:
            state_.scalar_editor = editors::new_scalar_editor(name, *current, scope);
            break;
        case settings::EditKind::NotEditable:
            state_.status = name.text + U" cannot be edited here.";
            state_.notice = state_.status;
            break;
    }
}

void Session::remove_override(const settings::Name& name) {
    const std::u32string& scope_key = state_.scope.key;
    bool held = false;
    for (const auto& entry :
         settings::merged_scope(scope_key, state_.session_overrides, state_.saved_overrides)) {
        held = held || entry.first == name.text;
    }
    if (held) {
        state_.session_overrides.remove(scope_key, name.text);
        state_.status = name.text + U" override removed here.";
    } else {
        state_.status = name.text + U" has no override here to remove.";
    }
    state_.notice = state_.status;
}

}  // namespace nvx::session
