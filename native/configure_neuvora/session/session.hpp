// One interactive configuration session: the state owned by
// set_dendrification_targets, one pass of its main loop, and the key dispatch.
//
// Every other function of the module is reached through the module namespace
// (nvx::call_global), so replacing one on the module from Python takes effect at
// once; this is how whole sessions are scripted without a terminal.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "configure_neuvora/target_model/session_model.hpp"
#include "core/layout/frame_fit.hpp"
#include "rule_history.hpp"

namespace nvx::configure {
namespace py = pybind11;

class Session {
public:
    explicit Session(py::object model) : model_(std::move(model)) {}

    // Runs the session; returns when it was saved or the empty-model path ran.
    // Sets quit_requested() when the user asked to quit.
    void run();

    bool quit_requested() const { return quit_requested_; }
    void request_quit() { quit_requested_ = true; }

    // Enters the alternate screen through the module; leaves it on the way
    // out only while the session is on it (not while the filename prompt of
    // "save as default" is shown on the main screen).
    void enter_alternate_screen();
    void exit_alternate_screen();
    bool on_alternate_screen() const { return on_alternate_screen_; }

private:
    // One pass: normalise, resolve, draw, read one key, dispatch it.
    void pass();
    py::str render_frame();
    // read_single_key, ending the session on a run of empty reads; none when
    // the terminal was resized instead (the frame is drawn again, no key counts).
    std::optional<py::object> next_key();
    void dispatch(const py::object& key);
    bool handle_global_key(const py::object& key);

    // Key handling of the overlays, the Targets screen and the Run settings screen.
    void handle_overlay_key(const py::object& key);
    void handle_targets_key(const py::object& key);
    void handle_run_key(const py::object& key);
    // Enter in the overrides overlay: toggle, cycle or open an editor for one setting.
    void edit_override(const py::object& name);

    // p/t/P/T/x: runs the rule function for `entry` and records what it
    // changed for undo; returns the function's result.
    py::object change_rule(RuleChange::Action action, const py::object& entry, const py::object& mode);
    // The user's action of a change, through the module's rule function.
    py::object perform(const RuleChange& change);
    // u and Ctrl-R.
    void undo_rule_change();
    void redo_rule_change();
    // The live count of the modules a type rule on `type_name` reaches.
    std::int64_t live_type_count(const py::object& type_name);

    // `!`: selects the next module that needs a mode.
    void select_next_unset();
    // Table positions of the modules that need a mode, in tree order.
    std::vector<int> unset_positions();

    // Entries currently shown on the Targets screen.
    py::list visible_targets();
    // The selected one of them (the index clamped to the last), and their number;
    // None when there are none.
    py::object selected_target(Py_ssize_t& count);
    // Writes the configuration outputs and the in-session overrides (0: this run, 1: as default).
    void finalize_save(long choice_index);
    // Ends the loop after a save; training can start.
    void finish() { done_ = true; }

    // `header` with the type-rules block `box` inside it, between two empty lines.
    static py::object with_type_rules(const py::object& header, const py::object& box);
    // The type-rules block, the rules of classes that hold overrides marked.
    py::object type_rules_box();
    // `footer` with the status message under it, when there is one.
    py::object with_status(const py::object& footer) const;
    // A message as a line of the frame (the status line's look).
    static py::object message_line(const py::object& message);

    // Scope keys (module ids and class names) that hold overrides, saved or
    // made in this session, as a set.
    py::object scopes_with_overrides();
    // The Targets body with the override mark on the rows of `marked` ids.
    py::object with_override_marks(py::object body, const py::list& visible, const py::object& marked);
    // Delete or Backspace in the overrides overlay: this scope's value of one setting goes.
    void remove_override(const py::object& name);

    // This pass's `resolve_entry_modes(entries)` map, built at first use when the
    // engine resolved the pass.
    py::object resolved();
    // The engine over the session's entries.
    target::SessionModel& table();
    // The Targets screen drawn by the engine; false when this pass goes through
    // the module's functions (one of them has been replaced).
    bool render_targets_natively(py::str& screen_text);

    // Frames that fit the terminal (frame_fitting.cpp).
    struct TerminalSize {
        long long columns;
        long long lines;
    };
    TerminalSize terminal_now() const;
    // A static, save or overrides overlay: as drawn when it fits, else a
    // window from `window_start`, following the line that starts with
    // `pointer` (visible text) when there is one.
    py::str fit_overlay(const py::object& lines, long long& window_start, const char32_t* pointer);
    // An overlay page that knows its focus: as drawn when it fits, else a window from `window_start`.
    py::str fit_page(const layout::PageFrame& page, long long& window_start);
    // A screen body, drawn on demand: the engine's rows or a list of lines.
    struct ScreenBody {
        long long count = 0;
        layout::BodyText line;
        py::object list;  // the lines as a list, built only when asked

        static ScreenBody of_lines(const py::object& lines);
    };
    // The Targets screen from its renderer's header, footer and focus, with the
    // session's lines, the type-rules block when open, fitted; `lazy`: the
    // body is the engine's (composed natively while lines are plain text).
    py::str compose_targets_screen(const py::object& header, ScreenBody& body, const py::object& footer,
                                   const py::object& focus, bool lazy);
    // The Run settings screen from `render_run_settings_lines`, with the status line, fitted.
    py::str compose_run_screen(const py::tuple& parts);
    // The screen as the module composes it when it fits; otherwise its header
    // and footer give way. `type_rules` is the type-rules block shown inside
    // the header (None when closed); the ranks say when each header and footer
    // line gives way.
    py::str compose_fitted(const py::object& header, const py::object& type_rules, ScreenBody& body,
                           const py::object& footer, const std::vector<int>& header_ranks,
                           const std::vector<int>& footer_ranks, const py::object& focus,
                           py::object& window_start, bool lazy);
    // The type-rules block cut to `room` rows, from the first rule shown.
    std::vector<layout::ScreenLine> cut_type_rules(const std::vector<std::u32string>& block, long long room,
                                                   long long columns);
    // The Targets footer with the session's lines: the keys beyond the
    // screen's own hint, the status message and the search prompt.
    py::object targets_footer(const py::object& footer, std::vector<int>& ranks) const;

    // Home and End on each screen and overlay, and scrolling a tall page.
    bool scroll_page(const py::object& key, long long& first_row) const;

    // Search on the Targets screen (search_keys.cpp).
    void open_search();
    // Keys typed while the prompt is open; false when it is closed.
    bool handle_search_key(const py::object& key);
    void update_search();
    // Closes again the restructured modules the open search opened.
    void undo_search_openings();
    void close_search(bool keep_selection);
    // n / N: the next or previous module matching the last search.
    void search_again(int direction);
    // The prompt line, while the prompt is open.
    std::u32string search_prompt_line() const;
    model::ModuleSearch& module_search();
    // Selects the entry at table position `position`, opening the restructured
    // module it sits in; opened modules are remembered while the prompt is open.
    // `visible`: the positions of the rows shown now.
    void select_position(int position, std::vector<int> visible);
    void select_position(int position);
    // Table position of the selected row; -1 when no row is shown.
    int selected_position(const std::vector<int>& visible) const;
    int selected_position();

    py::object model_;
    bool on_alternate_screen_ = false;
    bool quit_requested_ = false;
    bool done_ = false;
    int empty_reads_ = 0;

    py::list entries_;
    std::unique_ptr<target::SessionModel> table_;
    const model::Resolution* resolution_ = nullptr;
    bool resolved_natively_ = false;  // the engine resolved this pass into `resolution_`
    py::object resolved_;             // the map, once built (null until then)
    std::string active_screen_ = "targets";
    std::string overlay_;  // "" when no overlay is open
    py::str status_message_;
    // A message shown inside the open overlay or editor until the next key
    // (there is no status line there).
    py::str notice_;
    Py_ssize_t target_selected_index_ = 0;
    py::object target_window_start_ = py::int_(0);
    py::dict expanded_replaced_;
    Py_ssize_t run_selected_index_ = 0;
    py::object run_window_start_ = py::int_(0);
    py::dict expanded_buckets_;
    py::str describe_name_;
    py::object ov_scope_ = py::none();
    Py_ssize_t ov_selected_index_ = 0;
    py::dict module_settings_overrides_;
    py::object existing_module_settings_ = py::dict();
    Py_ssize_t save_selected_index_ = 0;
    py::object scalar_editor_state_ = py::none();
    py::object list_editor_state_ = py::none();
    RuleHistory history_;

    // First row shown of a help, legend or quit page taller than the terminal,
    // and of the save and overrides overlays; first rule of a cut type-rules block.
    std::string drawn_overlay_;  // the overlay of the last frame drawn
    long long page_first_row_ = 0;
    long long save_window_start_ = 0;
    long long overrides_window_start_ = 0;
    long long type_rules_first_ = 0;

    struct Search {
        bool open = false;
        std::u32string text;
        int origin = -1;  // table position of the row the search started from
        // Restructured modules the search opened, with their earlier value (null: none).
        std::vector<std::pair<py::object, py::object>> opened;
        std::u32string note;
    };
    Search search_;
    std::u32string last_search_;  // the text n and N look for
};

// `_move(index, delta, length)`: the index moved by delta, clamped to the list.
Py_ssize_t move_index(Py_ssize_t index, Py_ssize_t delta, Py_ssize_t length);

}  // namespace nvx::configure
