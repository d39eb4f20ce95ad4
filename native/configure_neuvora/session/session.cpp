#include "session.hpp"

#include <algorithm>

#include "common/interp.hpp"
#include "common/module_namespace.hpp"
#include "configure_neuvora/engine_use.hpp"
#include "configure_neuvora/screens/targets_frame.hpp"
#include "configure_neuvora/terminal/resize_signal.hpp"
#include "core/screens/save_text.hpp"
#include "core/screens/static_pages.hpp"
#include "core/text/display_text.hpp"
#include "core/text/styling.hpp"
#include "editor_frame.hpp"

namespace nvx::configure {
namespace {

const char* const kClearScreen = "\x1b[2J\x1b[H";

py::object config() {
    return global("GNV").attr("pc");
}

Py_ssize_t length_of(const py::handle& sequence) {
    return static_cast<Py_ssize_t>(py::len(sequence));
}

}  // namespace

Py_ssize_t move_index(Py_ssize_t index, Py_ssize_t delta, Py_ssize_t length) {
    if (length <= 0) return 0;
    return std::max<Py_ssize_t>(0, std::min(index + delta, length - 1));
}

void Session::run() {
    call_global("normalize_selection_conflicts");
    entries_ = py::list(call_global("get_module_entries", model_));
    if (length_of(entries_) == 0) {
        global("print")(model_);
        global("input")("Press Enter to confirm dendrification targets...");
        config().attr("set_configuration_confirmed")(true);
        return;
    }
    // Entries never change once built: the session reads them once, and the
    // module's functions use the same table when they are given this list.
    table_ = std::make_unique<target::SessionModel>(entries_, model_);
    existing_module_settings_ = call_global("load_existing_module_settings");
    while (!done_ && !quit_requested_) {
        pass();
    }
}

void Session::pass() {
    // This pass draws at the size the terminal has now.
    resize::take_noted();
    call_global("normalize_selection_conflicts");
    resolved_ = py::object();
    resolved_natively_ = engine_may_stand_in();
    if (resolved_natively_) {
        resolution_ = &table().resolve();
    } else {
        resolved_ = py::dict(call_global("resolve_entry_modes", entries_));
    }

    // An open editor takes the whole frame and every key.
    for (auto [state, handler] : {std::pair{&scalar_editor_state_, "_handle_scalar_editor"},
                                  std::pair{&list_editor_state_, "_handle_list_editor"}}) {
        if (state->is_none()) continue;
        // A refused entry is reported under the editor, where the user is, when the terminal has the room.
        draw_editor_frame(*state, to_u32(to_str(notice_)));
        const std::optional<py::object> key = next_key();
        if (!key) return;
        py::tuple outcome = call_global(handler, *state, *key, module_settings_overrides_);
        status_message_ = py::str(outcome[1]);
        notice_ = status_message_;
        if (truthy(outcome[0])) *state = py::none();
        return;
    }

    print_text(py::str(kClearScreen), "");
    py::str screen_text = render_frame();
    global("print")(call_global("wrap_screen_text_for_terminal", screen_text));
    if (const std::optional<py::object> key = next_key()) dispatch(*key);
}

std::optional<py::object> Session::next_key() {
    // A terminal that went away reads as empty input forever; end the session
    // instead of spinning on it.
    constexpr int kEmptyReadsBeforeEof = 16;
    // Resized while this frame was drawn: draw it again for the new size.
    if (resize::take_noted()) return std::nullopt;
    py::object key;
    try {
        resize::KeyWait wait;
        wait.check_now();
        key = call_global("read_single_key");
    } catch (py::error_already_set& error) {
        if (!resize::interrupted(error)) throw;
        return std::nullopt;
    }
    notice_ = py::str("");
    empty_reads_ = is_str(key) && py::len(key) == 0 ? empty_reads_ + 1 : 0;
    if (empty_reads_ >= kEmptyReadsBeforeEof) {
        raise(PyExc_EOFError, "no more key input: the terminal closed");
    }
    return key;
}

py::object Session::message_line(const py::object& message) {
    const py::str shown = from_u32(display::escape_controls(to_u32(to_str(message))));
    return call_global("color_text", py::str("  ") + shown, global("COLOR_ACCENT"));
}

py::object Session::with_status(const py::object& footer) const {
    if (!truthy(status_message_)) return footer;
    py::list line;
    line.append(message_line(status_message_));
    return footer + line;
}

py::str Session::render_frame() {
    if (overlay_ != drawn_overlay_) {
        // A newly opened overlay starts at its top.
        page_first_row_ = save_window_start_ = overrides_window_start_ = type_rules_first_ = 0;
        drawn_overlay_ = overlay_;
    }
    const TerminalSize size = terminal_now();
    if (layout::too_small(size.columns, size.lines)) {
        return from_u32(layout::too_small_frame(size.columns, size.lines));
    }
    if (overlay_ == "help") {
        py::list lines;
        for (const std::u32string& line : overlays::session_help_page().lines) lines.append(from_u32(line));
        return fit_overlay(lines, page_first_row_, nullptr);
    }
    if (overlay_ == "legend")
        return fit_overlay(call_global("render_legend_overlay"), page_first_row_, nullptr);
    if (overlay_ == "quit") return fit_overlay(call_global("render_quit_overlay"), page_first_row_, nullptr);
    if (overlay_ == "save") {
        if (resolved_natively_) {
            // The page and its selected option's line, from the session's model.
            const std::u32string path =
                display::escape_controls(to_u32(to_str(call_global("_config_target_path"))));
            const std::size_t options = overlays::save_options(table().unset_rows().size(), path).size();
            std::optional<std::size_t> selected;
            if (save_selected_index_ >= 0 && static_cast<std::size_t>(save_selected_index_) < options) {
                selected = static_cast<std::size_t>(save_selected_index_);
            }
            return fit_page(table().save_page(selected, path), save_window_start_);
        }
        return fit_overlay(call_global("render_save_overlay", entries_, resolved(), save_selected_index_,
                                       call_global("_config_target_path")),
                           save_window_start_, U"  \u25b8 ");
    }
    if (overlay_ == "overrides") {
        py::object lines = call_global("render_overrides_overlay", ov_scope_, ov_selected_index_,
                                       module_settings_overrides_, existing_module_settings_, describe_name_);
        if (truthy(notice_)) {
            py::list line;
            line.append(message_line(notice_));
            lines = lines + line;
        }
        return fit_overlay(lines, overrides_window_start_, U"> ");
    }

    if (active_screen_ != "targets") {
        py::object items = call_global("build_run_items", expanded_buckets_);
        const Py_ssize_t count = length_of(items);
        if (run_selected_index_ >= count) run_selected_index_ = std::max<Py_ssize_t>(0, count - 1);
        return compose_run_screen(
            call_global("render_run_settings_lines", items, run_selected_index_, describe_name_));
    }

    py::str screen_text;
    if (render_targets_natively(screen_text)) return screen_text;
    py::list vis = visible_targets();
    const Py_ssize_t count = length_of(vis);
    if (target_selected_index_ >= count) target_selected_index_ = std::max<Py_ssize_t>(0, count - 1);
    py::tuple parts = call_global("render_targets_lines", entries_, vis, target_selected_index_, resolved(),
                                  expanded_replaced_);
    ScreenBody body = ScreenBody::of_lines(with_override_marks(parts[1], vis, scopes_with_overrides()));
    return compose_targets_screen(parts[0], body, parts[2], parts[3], false);
}

void Session::dispatch(const py::object& key) {
    if (handle_search_key(key)) return;
    if (!overlay_.empty()) {
        handle_overlay_key(key);
        return;
    }
    if (handle_global_key(key)) return;
    status_message_ = py::str("");
    if (active_screen_ == "targets") {
        handle_targets_key(key);
    } else {
        handle_run_key(key);
    }
}

bool Session::handle_global_key(const py::object& key) {
    if (equals(key, py::str("?"))) {
        overlay_ = "help";
    } else if (equals(key, py::str("q"))) {
        overlay_ = "quit";
    } else if (equals(key.attr("lower")(), py::str("s"))) {
        overlay_ = "save";
        save_selected_index_ = 0;
    } else if (truthy(call_global("is_tab_key", key))) {
        active_screen_ = active_screen_ == "targets" ? "run" : "targets";
        status_message_ = py::str("");
        describe_name_ = py::str("");
    } else {
        return false;
    }
    return true;
}

py::object Session::resolved() {
    if (!resolved_) resolved_ = table().records();
    return resolved_;
}

target::SessionModel& Session::table() {
    // A function replaced from Python may have changed the list it was handed.
    if (!table_->describes(entries_)) {
        table_ = std::make_unique<target::SessionModel>(entries_, model_);
        if (resolved_natively_) resolution_ = &table_->resolve();
    }
    return *table_;
}

bool Session::render_targets_natively(py::str& screen_text) {
    if (!resolved_natively_) return false;
    target::SessionModel& model = table();
    const auto count = static_cast<Py_ssize_t>(model.visible(expanded_replaced_).size());
    if (target_selected_index_ >= count) target_selected_index_ = std::max<Py_ssize_t>(0, count - 1);
    layout::ScreenFrame frame = model.targets_frame(
        expanded_replaced_, static_cast<std::size_t>(target_selected_index_), scopes_with_overrides());
    ScreenBody body;
    body.count = frame.body_count;
    body.line = frame.body_line;
    screen_text = compose_targets_screen(frame_lines(frame.header), body, frame_lines(frame.footer),
                                         py::make_tuple(frame.focus->start, frame.focus->end), true);
    return true;
}

py::object Session::selected_target(Py_ssize_t& count) {
    target::SessionModel& entry_table = table();
    const std::vector<int>& positions = entry_table.visible(expanded_replaced_);
    count = static_cast<Py_ssize_t>(positions.size());
    if (count == 0) return py::none();
    if (target_selected_index_ >= count) target_selected_index_ = count - 1;
    return py::reinterpret_borrow<py::object>(entry_table.entry(
        static_cast<std::size_t>(positions[static_cast<std::size_t>(target_selected_index_)])));
}

py::list Session::visible_targets() {
    target::SessionModel& entry_table = table();
    const std::vector<int>& positions = entry_table.visible(expanded_replaced_);
    py::list shown(positions.size());
    for (std::size_t i = 0; i < positions.size(); ++i) {
        PyObject* entry = entry_table.entry(static_cast<std::size_t>(positions[i])).ptr();
        Py_INCREF(entry);
        PyList_SET_ITEM(shown.ptr(), static_cast<Py_ssize_t>(i), entry);
    }
    return shown;
}

void Session::enter_alternate_screen() {
    call_global("enter_alternate_screen");
    on_alternate_screen_ = true;
}

void Session::exit_alternate_screen() {
    call_global("exit_alternate_screen");
    on_alternate_screen_ = false;
}

void Session::finalize_save(long choice_index) {
    using namespace py::literals;
    if (choice_index != 0) {
        py::object config_file = config().attr("get_config_file")();
        if (!truthy(config_file)) {
            py::object save_name = config().attr("get_save_name")();
            if (!truthy(save_name)) save_name = py::str("NVX");
            py::object suggested = call_global("_config_target_path");
            exit_alternate_screen();
            print_text(py::str(kClearScreen), "");
            py::object print_line = global("print");
            print_line("No config_file is set.");
            print_line("Enter a local JSON filename/path to create a reusable configuration file.");
            print_line(py::str("You currently have save_name='") + to_str(save_name) +
                       py::str("'. Choose '") + to_str(suggested) +
                       py::str("' to skip this screen next time without changing your dendrify_model call."));
            while (true) {
                py::object path = global("input")("Config filename/path: ").attr("strip")();
                if (truthy(path)) {
                    config().attr("__dict__")["_config_file"] = path;
                    break;
                }
                global("print")("A filename is required to save a default configuration.");
            }
            enter_alternate_screen();
        }
    }
    const bool as_default = choice_index != 0;
    config().attr("persist_config_outputs")("overwrite_config_file"_a = as_default);
    call_global("persist_module_settings_updates", module_settings_overrides_,
                "overwrite_config_file"_a = as_default);
}

}  // namespace nvx::configure
