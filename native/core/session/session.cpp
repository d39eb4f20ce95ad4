#include "session.hpp"

#include <algorithm>
#include <utility>

#include "core/screens/editor_frame.hpp"

namespace nvx::session {

long long moved(long long index, long long delta, long long length) {
    if (length <= 0) return 0;
    return std::max(0LL, std::min(index + delta, length - 1));
}

std::optional<long long> cursor_step(keys::Action action) {
    switch (action) {
        case keys::Action::MoveUp:
            return -1;
        case keys::Action::MoveDown:
            return 1;
        case keys::Action::PageUp:
            return -10;
        case keys::Action::PageDown:
            return 10;
        default:
            return std::nullopt;
    }
}

Outcome Session::run() {
    normalize();
    if (world_.read_entries() == 0) {
        world_.print_model();
        world_.terminal().await_enter(U"Press Enter to confirm dendrification targets...");
        world_.configuration().confirm();
        return Outcome::NoModules;
    }
    // The entries never change once read: the session reads them once.
    model_ = std::make_unique<SessionModel>(world_.model());
    state_.saved_overrides = world_.override_files().load();
    while (!saved_ && !quit_) pass();
    return saved_ ? Outcome::Saved : Outcome::Quit;
}

void Session::normalize() {
    const std::unique_ptr<RuleLists> lists = world_.rule_lists();
    model::normalize(*lists, lists->oracle());
}

void Session::pass() {
    normalize();
    model_->resolve(world_.rule_lists());
    const layout::TerminalSize size = world_.terminal().size();

    // An open editor takes the whole frame and every key.
    if (state_.scalar_editor || state_.list_editor) {
        // A refused entry is shown under the editor, where the user is, when there is room.
        world_.terminal().show_frame(
            screens::editor_frame_text(editor_frame(), size.columns, size.lines, state_.notice));
        if (const std::optional<Key> key = next_key()) {
            if (*key) editor_key(**key);
        }
        return;
    }
    world_.terminal().show_frame(frame(size));
    if (const std::optional<Key> key = next_key()) dispatch(*key);
}

std::optional<Key> Session::next_key() {
    std::optional<Key> key = world_.terminal().read_key();
    if (key) state_.notice.clear();
    return key;
}

keys::KeyContext Session::key_context() const {
    keys::KeyContext context;
    context.screen = state_.screen == Screen::Targets ? keys::Place::Targets : keys::Place::RunSettings;
    context.searching = state_.search.open;
    switch (state_.overlay) {
        case Overlay::None:
            break;
        case Overlay::Help:
            context.overlay = keys::Place::Help;
            break;
        case Overlay::Legend:
            context.overlay = keys::Place::Legend;
            break;
        case Overlay::Quit:
            context.overlay = keys::Place::Quit;
            break;
        case Overlay::TypeRules:
            context.overlay = keys::Place::TypeRules;
            break;
        case Overlay::Save:
            context.overlay = keys::Place::Save;
            break;
        case Overlay::Overrides:
            context.overlay = keys::Place::Overrides;
            break;
    }
    return context;
}

void Session::dispatch(const Key& key) {
    using keys::Action;
    // A key that is not text is no key of any screen: nothing happens.
    if (!key) return;
    const Action action = keys::action_for(key_context(), *key);
    if (state_.search.open) {
        search_key(action, *key);
        return;
    }
    if (state_.overlay != Overlay::None) {
        overlay_key(action);
        return;
    }
    switch (action) {
        case Action::OpenHelp:
            state_.overlay = Overlay::Help;
            return;
        case Action::OpenQuit:
            state_.overlay = Overlay::Quit;
            return;
        case Action::OpenSave:
            state_.overlay = Overlay::Save;
            state_.save_selected = 0;
            return;
        case Action::SwitchScreen:
            state_.screen = state_.screen == Screen::Targets ? Screen::RunSettings : Screen::Targets;
            state_.status.clear();
            state_.describe_name.clear();
            return;
        default:
            break;
    }
    state_.status.clear();
    if (state_.screen == Screen::Targets) {
        targets_key(action);
    } else {
        run_key(action);
    }
}

void Session::editor_key(const std::u32string& key) {
    const editors::SetOverride into_session = [this](const settings::Name& scope_key,
                                                     const settings::Name& setting_name,
                                                     const settings::Value& value) {
        state_.session_overrides.set(scope_key.text, setting_name.text, value);
    };
    settings::SettingsPort& settings = world_.settings();
    const editors::Outcome outcome =
        state_.scalar_editor ? editors::handle_scalar_key(*state_.scalar_editor, key, settings, into_session)
                             : editors::handle_list_key(*state_.list_editor, key, settings, into_session);
    state_.status = outcome.message;
    state_.notice = outcome.message;
    if (outcome.done) {
        state_.scalar_editor.reset();
        state_.list_editor.reset();
    }
}

settings::WriteOutcome Session::finalize_save(bool as_default) {
    Configuration& configuration = world_.configuration();
    if (as_default && !configuration.has_config_file()) ask_config_file();
    const settings::WriteOutcome written = configuration.persist_outputs(as_default);
    if (!written.ok) return written;
    return world_.override_files().save(state_.session_overrides, as_default);
}

void Session::ask_config_file() {
    Configuration& configuration = world_.configuration();
    Terminal& terminal = world_.terminal();
    const std::u32string save_name = configuration.save_name();
    const std::u32string suggested = configuration.config_target_path();
    terminal.exit_alternate_screen();
    terminal.show_frame(
        U"No config_file is set.\n"
        U"Enter a local JSON filename/path to create a reusable configuration file.\n"
        U"You currently have save_name='" +
        save_name + U"'. Choose '" + suggested +
        U"' to skip this screen next time without changing your dendrify_model call.");
    while (true) {
        const std::u32string path = terminal.input_line(U"Config filename/path: ");
        if (path.empty()) {
            terminal.print_line(U"A filename is required to save a default configuration.");
            continue;
        }
        // Nothing is written before the path is known to take the file.
        const PathVerdict verdict = check_config_path(path, world_.file_system());
        if (verdict.accepted) {
            configuration.set_config_file(path);
            break;
        }
        terminal.print_line(verdict.refusal);
    }
    terminal.enter_alternate_screen();
}

}  // namespace nvx::session
