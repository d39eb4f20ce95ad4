// One interactive configuration session as a state machine: its state as
// plain values, and the pass that normalises the rule lists, resolves every
// module, draws one frame, reads one key and dispatches it through the key
// table. Everything outside (terminal, model, rule lists, settings, files,
// the configuration object) is reached through the World's ports.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/editors/editors.hpp"
#include "core/keys/key_table.hpp"
#include "core/layout/frame.hpp"
#include "core/settings/overrides.hpp"
#include "core/settings/run_items.hpp"
#include "rule_history.hpp"
#include "session_model.hpp"
#include "world.hpp"

namespace nvx::session {

enum class Screen { Targets, RunSettings };
enum class Overlay { None, Help, Legend, Quit, TypeRules, Save, Overrides };

// How a session ended.
enum class Outcome {
    Saved,     // the configuration is saved and confirmed: training goes on
    Quit,      // the user asked to quit
    NoModules  // the model has no modules: confirmed without a screen
};

// `_move(index, delta, length)`: the index moved by delta, clamped to the list.
long long moved(long long index, long long delta, long long length);

// How far a cursor key moves a selection: one row for up and down, ten for
// PgUp and PgDn; none for any other action.
std::optional<long long> cursor_step(keys::Action action);

// The override scope the overrides overlay shows.
struct ScopeShown {
    bool by_id = true;   // one module by its id, else every module of a class
    std::u32string key;  // the module id or the class name
};

// The prompt "/" opens on the Targets screen.
struct Search {
    bool open = false;
    std::u32string text;
    int origin = -1;  // table row the search started from
    // Restructured modules the search opened (closed again when it is abandoned).
    std::vector<std::size_t> opened;
    std::u32string note;
};

struct State {
    Screen screen = Screen::Targets;
    Overlay overlay = Overlay::None;
    // Overlay of the last frame drawn: a newly opened one starts at its top.
    Overlay drawn_overlay = Overlay::None;
    std::u32string status;  // the status message; "" for none
    // A message shown inside the open overlay or editor until the next key.
    std::u32string notice;

    long long target_selected = 0;
    long long target_window_start = 0;
    OpenGroups open_modules;  // restructured modules whose rows are shown
    long long run_selected = 0;
    long long run_window_start = 0;
    std::set<std::u32string> expanded_buckets;
    std::u32string describe_name;  // the setting described; "" for none
    ScopeShown scope;
    long long overrides_selected = 0;
    long long overrides_window_start = 0;
    long long save_selected = 0;
    long long save_window_start = 0;
    // First row shown of a help, legend or quit page taller than the terminal,
    // and the first rule shown of a cut type-rules block.
    long long page_first_row = 0;
    long long type_rules_first = 0;

    std::optional<editors::ScalarEditor> scalar_editor;
    std::optional<editors::ListEditor> list_editor;
    settings::Overrides session_overrides;  // made in this session
    settings::Overrides saved_overrides;    // read from the files when the session began

    Search search;
    std::u32string last_search;  // the text n and N look for
    RuleHistory history;
};

// The Run settings rows of one pass, with the values read for them.
class RunRows {
public:
    RunRows(settings::SettingsPort& port, const std::set<std::u32string>& expanded);
    const settings::Name& bucket_of(const settings::RunItem& item) const;
    const settings::Name& setting_of(const settings::RunItem& item) const;
    // A setting row's value; "<unavailable>" when none was read for it.
    settings::Value value_of(const settings::RunItem& item) const;

    settings::SettingValues values;
    settings::Descriptions descriptions;
    std::vector<settings::RunItem> items;

private:
    std::unordered_map<std::u32string, std::size_t> value_at_;
};

class Session {
public:
    explicit Session(World& world) : world_(world) {}

    // Runs the session until it is saved, quit or found to have no modules.
    Outcome run();

private:
    // One pass: normalise, resolve, draw, read one key, dispatch it.
    void pass();
    void normalize();
    // The next key; none when the terminal was resized instead (nothing counts).
    std::optional<Key> next_key();
    void dispatch(const Key& key);
    keys::KeyContext key_context() const;

    // Frames (frames.cpp), at the size read once for the frame.
    std::u32string frame(layout::TerminalSize size);
    std::u32string targets_screen(layout::TerminalSize size);
    std::u32string run_screen(layout::TerminalSize size);
    std::u32string shown_page(const layout::PageFrame& page, long long& window_start,
                              layout::TerminalSize size);
    layout::PageFrame overrides_page();
    layout::ScreenFrame editor_frame() const;
    // Scope keys that hold overrides, saved or made in this session.
    MarkedScopes marked_scopes() const;

    // Keys (targets_keys.cpp, run_keys.cpp, overlay_keys.cpp, search.cpp).
    void targets_key(keys::Action action);
    void run_key(keys::Action action);
    // Enter on a setting of the Run settings screen.
    void edit_setting(const settings::Name& name, const settings::Value& value);
    void overlay_key(keys::Action action);
    void editor_key(const std::u32string& key);
    void scroll(keys::Action action, long long& first_row);
    void save_key(keys::Action action);
    void overrides_key(keys::Action action);
    // Enter in the overrides overlay: toggle, cycle or open an editor for one setting.
    void edit_override(const settings::Name& name);
    // Delete or Backspace there: this scope's value of one setting goes.
    void remove_override(const settings::Name& name);
    // p/t/P/T/x on row `row`, recorded for undo.
    void change_rule(RuleChange::Action action, std::size_t row, model::ModeArgument mode);
    std::u32string perform(const RuleChange& change);
    void undo_rule_change();
    void redo_rule_change();
    void select_next_unset();
    // Writes the configuration outputs and the session's overrides (asking for
    // a configuration file first when saved as default without one); stops at
    // the first refused write.
    settings::WriteOutcome finalize_save(bool as_default);
    // Asks on the normal screen for the path of a configuration file until one
    // can be written, and sets it.
    void ask_config_file();

    // Finding a module (search.cpp).
    void open_search();
    void search_key(keys::Action action, const std::u32string& key);
    void update_search();
    void close_search(bool keep_selection);
    void search_again(int direction);
    std::u32string search_prompt_line() const;
    // Selects the row at table position `position`, opening the restructured
    // module it lies in (remembered while the prompt is open).
    void select_position(int position);
    // Table position of the selected row; -1 when no row is shown.
    int selected_position();

    // The rows shown on the Targets screen, the selection clamped to them.
    const std::vector<int>& visible_clamped();

    World& world_;
    std::unique_ptr<SessionModel> model_;
    State state_;
    bool saved_ = false;
    bool quit_ = false;
};

}  // namespace nvx::session
