#include "session.hpp"

#include <algorithm>

#include "common/glue.hpp"

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
    existing_module_settings_ = call_global("load_existing_module_settings");
    while (!done_ && !quit_requested_) {
        pass();
    }
}

void Session::pass() {
    call_global("normalize_selection_conflicts");
    resolved_ = py::dict(call_global("resolve_entry_modes", entries_));

    // An open editor takes the whole frame and every key.
    for (auto [state, handler] : {std::pair{&scalar_editor_state_, "_handle_scalar_editor"},
                                  std::pair{&list_editor_state_, "_handle_list_editor"}}) {
        if (state->is_none()) continue;
        call_global("_render_editor_frame", *state);
        py::object key = next_key();
        py::tuple outcome = call_global(handler, *state, key, module_settings_overrides_);
        status_message_ = py::str(outcome[1]);
        if (truthy(outcome[0])) *state = py::none();
        return;
    }

    print_text(py::str(kClearScreen), "");
    py::str screen_text = render_frame();
    global("print")(call_global("wrap_screen_text_for_terminal", screen_text));
    dispatch(next_key());
}

py::object Session::next_key() {
    // A terminal that went away reads as empty input forever; end the session
    // instead of spinning on it.
    constexpr int kEmptyReadsBeforeEof = 16;
    py::object key = call_global("read_single_key");
    empty_reads_ = is_str(key) && py::len(key) == 0 ? empty_reads_ + 1 : 0;
    if (empty_reads_ >= kEmptyReadsBeforeEof) {
        raise(PyExc_EOFError, "no more key input: the terminal closed");
    }
    return key;
}

py::str Session::status_line(const py::str& message) const {
    return call_global("color_text", py::str("  ") + message, global("COLOR_ACCENT"));
}

py::str Session::render_frame() {
    auto overlay_frame = [](const py::object& lines) {
        return py::str(call_global("render_static_overlay", lines));
    };
    if (overlay_ == "help") return overlay_frame(call_global("render_help_overlay"));
    if (overlay_ == "legend") return overlay_frame(call_global("render_legend_overlay"));
    if (overlay_ == "quit") return overlay_frame(call_global("render_quit_overlay"));
    if (overlay_ == "save") {
        return overlay_frame(call_global("render_save_overlay", entries_, resolved_, save_selected_index_,
                                         call_global("_config_target_path")));
    }
    if (overlay_ == "overrides") {
        return overlay_frame(call_global("render_overrides_overlay", ov_scope_, ov_selected_index_,
                                         module_settings_overrides_, existing_module_settings_,
                                         describe_name_));
    }

    py::tuple parts;
    py::object* window_start = nullptr;
    if (active_screen_ != "targets") {
        py::object items = call_global("build_run_items", expanded_buckets_);
        const Py_ssize_t count = length_of(items);
        if (run_selected_index_ >= count) run_selected_index_ = std::max<Py_ssize_t>(0, count - 1);
        parts = call_global("render_run_settings_lines", items, run_selected_index_, describe_name_);
        window_start = &run_window_start_;
    } else {
        py::list vis = visible_targets();
        const Py_ssize_t count = length_of(vis);
        if (target_selected_index_ >= count) target_selected_index_ = std::max<Py_ssize_t>(0, count - 1);
        parts = call_global("render_targets_lines", entries_, vis, target_selected_index_, resolved_,
                            expanded_replaced_);
        window_start = &target_window_start_;
    }
    py::object header = parts[0];
    py::object body = parts[1];
    py::object footer = parts[2];
    py::object focus = parts[3];
    if (active_screen_ == "targets" && overlay_ == "typerules") {
        py::list block;
        block.append(py::str(""));
        header = header + block + call_global("render_type_rules_overlay", entries_) + block;
    }
    if (truthy(status_message_)) {
        py::list line;
        line.append(status_line(status_message_));
        footer = footer + line;
    }
    py::tuple composed = call_global("compose_scrolling_screen", header, body, footer, *window_start, focus);
    *window_start = composed[1];
    return py::str(composed[0]);
}

void Session::dispatch(const py::object& key) {
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

py::list Session::visible_targets() const {
    py::list shown;
    for (py::handle entry : entries_) {
        if (truthy(entry["in_replaced"])) {
            py::object root = entry["replaced_root"];
            if (!truthy(expanded_replaced_.attr("get")(root, false))) continue;
        }
        shown.append(entry);
    }
    return shown;
}

void Session::finalize_save(long choice_index) {
    using namespace py::literals;
    if (choice_index != 0) {
        py::object config_file = config().attr("get_config_file")();
        if (!truthy(config_file)) {
            py::object save_name = config().attr("get_save_name")();
            if (!truthy(save_name)) save_name = py::str("NVX");
            py::object suggested = call_global("_config_target_path");
            call_global("exit_alternate_screen");
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
            call_global("enter_alternate_screen");
        }
    }
    const bool as_default = choice_index != 0;
    config().attr("persist_config_outputs")("overwrite_config_file"_a = as_default);
    call_global("persist_module_settings_updates", module_settings_overrides_,
                "overwrite_config_file"_a = as_default);
}

}  // namespace nvx::configure
