// The inline value editors: a scalar editor for one number and a list editor
// for one list, each a plain dictionary the session loop keeps and hands back
// with every key. The text editing itself lives in editors.cpp.
#include <algorithm>

#include "common/functions.hpp"
#include "common/interp.hpp"
#include "common/module_namespace.hpp"
#include "configure_neuvora/registry.hpp"
#include "core/editors/text_state.hpp"
#include "core/keys/key_input.hpp"
#include "core/layout/frame_fit.hpp"
#include "core/text/display_text.hpp"
#include "core/text/styling.hpp"
#include "editor_frame.hpp"
#include "key_tests.hpp"

namespace nvx::configure {
namespace {

py::str key_name(const char* name) {
    return py::str(name);
}

py::object item(const py::object& state, const char* name) {
    return state[key_name(name)];
}

void set_item(const py::object& state, const char* name, const py::object& value) {
    state[key_name(name)] = value;
}

long long as_index(const py::object& value) {
    return py::cast<long long>(value);
}

py::tuple result(bool done, const py::object& message) {
    return py::make_tuple(py::bool_(done), message);
}
py::tuple result(bool done) {
    return result(done, py::str(""));
}

// Which of the shared text-editing keys `key` is, tested in the editors' order.
enum class TextKey { kNone, kLeft, kRight, kHome, kEnd, kBackspace, kDelete, kEnter, kTyped };

TextKey classify_after_escape(const py::object& key) {
    if (keys::test("is_left_key", key)) return TextKey::kLeft;
    if (keys::test("is_right_key", key)) return TextKey::kRight;
    if (is_str(key) && nvx::keys::is_home(to_u32(key))) return TextKey::kHome;
    if (is_str(key) && nvx::keys::is_end(to_u32(key))) return TextKey::kEnd;
    if (keys::is_backspace(key)) return TextKey::kBackspace;
    if (keys::test("is_delete_key", key)) return TextKey::kDelete;
    if (keys::test("is_enter_key", key)) return TextKey::kEnter;
    if (is_str(key) && editors::is_typed_character(to_u32(key))) return TextKey::kTyped;
    return TextKey::kNone;
}

// Applies a cursor or editing key to the state's "input_buffer"/"cursor_index".
void edit_text(const py::object& state, TextKey kind, const py::object& key) {
    if (kind == TextKey::kNone || kind == TextKey::kEnter) return;
    const editors::TextState before{to_u32(item(state, "input_buffer")),
                                    as_index(item(state, "cursor_index"))};
    editors::TextState after = before;
    switch (kind) {
        case TextKey::kLeft:
            after = editors::move_left(before);
            break;
        case TextKey::kRight:
            after = editors::move_right(before);
            break;
        case TextKey::kHome:
            after = editors::move_home(before);
            break;
        case TextKey::kEnd:
            after = editors::move_end(before);
            break;
        case TextKey::kBackspace:
            if (before.cursor <= 0) return;
            after = editors::erase_before(before);
            break;
        case TextKey::kDelete:
            if (before.cursor >= static_cast<long long>(before.buffer.size())) return;
            after = editors::erase_at(before);
            break;
        case TextKey::kTyped:
            after = editors::insert(before, to_u32(key)[0]);
            break;
        default:
            return;
    }
    const bool moves_only =
        kind == TextKey::kLeft || kind == TextKey::kRight || kind == TextKey::kHome || kind == TextKey::kEnd;
    if (!moves_only) {
        set_item(state, "input_buffer", from_u32(after.buffer));
    }
    set_item(state, "cursor_index", py::int_(after.cursor));
}

// Runs `parse_value_from_text(text, sample)`; on an error of the Exception
// family returns false with the exception's text in `message`.
bool try_parse(const py::object& text, const py::object& sample, py::object& parsed,
               std::u32string& message) {
    try {
        parsed = call_global("parse_value_from_text", text, sample);
        return true;
    } catch (py::error_already_set& error) {
        if (!error.matches(PyExc_Exception)) throw;
        message = to_u32(to_str(error.value()));
        return false;
    }
}

py::object persist_edited_value(const py::object& state, const py::object& overrides,
                                const py::object& value) {
    const py::object scope_key = item(state, "scope_key");
    if (!scope_key.is_none()) {
        call_global("set_module_scoped_value", overrides, scope_key, item(state, "setting_name"), value);
        return py::str("");
    }
    const py::tuple outcome =
        py::tuple(call_global("apply_setting_value", item(state, "setting_name"), value));
    if (outcome.size() != 2) raise_unpack_error(2, static_cast<Py_ssize_t>(outcome.size()));
    return truthy(outcome[0]) ? py::object(py::str("")) : py::object(outcome[1]);
}

py::tuple handle_scalar_editor(const py::object& state, const py::object& key, const py::object& overrides) {
    if (keys::is_escape(key)) return result(true);
    const TextKey kind = classify_after_escape(key);
    if (kind != TextKey::kEnter) {
        edit_text(state, kind, key);
        return result(false);
    }
    py::object value;
    std::u32string error;
    if (!try_parse(item(state, "input_buffer"), item(state, "sample_value"), value, error)) {
        return result(true, from_u32(U"Invalid value for " + to_u32(to_str(item(state, "setting_name"))) +
                                     U": " + error));
    }
    return result(true, call_global("_persist_edited_value", state, overrides, value));
}

void leave_typing(const py::object& state) {
    set_item(state, "typing_active", py::bool_(false));
    set_item(state, "edit_index", py::none());
    set_item(state, "input_buffer", py::str(""));
}

// Enter while typing: the text replaces the slot's element or is appended.
py::tuple commit_list_entry(const py::object& state) {
    const py::object values = item(state, "values");
    const py::object edit_index = item(state, "edit_index");
    const py::int_ count(py::len(values));
    const bool replaces = !edit_index.is_none() && edit_index < count;
    const py::object sample = replaces ? py::object(values[edit_index]) : item(state, "sample_type");

    py::object parsed;
    std::u32string error;
    if (!try_parse(item(state, "input_buffer"), sample, parsed, error)) {
        leave_typing(state);
        return result(false, from_u32(U"Invalid list entry: " + error));
    }
    if (replaces) {
        values[edit_index] = parsed;
        set_item(state, "selected_index", edit_index);
    } else {
        values.attr("append")(parsed);
        set_item(state, "selected_index", py::int_(static_cast<long long>(py::len(values)) - 1));
    }
    leave_typing(state);
    set_item(state, "cursor_index", py::int_(0));
    return result(false);
}

py::tuple handle_list_typing(const py::object& state, const py::object& key) {
    if (keys::is_escape(key)) {
        leave_typing(state);
        set_item(state, "cursor_index", py::int_(0));
        return result(false);
    }
    const TextKey kind = classify_after_escape(key);
    if (kind == TextKey::kEnter) return commit_list_entry(state);
    edit_text(state, kind, key);
    return result(false);
}

py::tuple handle_list_navigation(const py::object& state, const py::object& key,
                                 const py::object& overrides) {
    if (keys::is_escape(key)) return result(true);
    const py::object values = item(state, "values");
    const long long selected = as_index(item(state, "selected_index"));
    const long long count = static_cast<long long>(py::len(values));
    if (keys::test("is_left_key", key)) {
        set_item(state, "selected_index", py::int_(std::max(0LL, selected - 1)));
    } else if (keys::test("is_right_key", key)) {
        set_item(state, "selected_index", py::int_(std::min(selected + 1, count + 1)));
    } else if (keys::is_backspace(key) || keys::test("is_delete_key", key)) {
        if (selected < count) {
            if (PyObject_DelItem(values.ptr(), py::int_(selected).ptr()) != 0) throw py::error_already_set();
        }
    } else if (keys::test("is_select_key", key)) {
        if (selected == count + 1) {
            const py::object copy = py::reinterpret_steal<py::object>(PySequence_List(values.ptr()));
            if (!copy) throw py::error_already_set();
            return result(true, call_global("_persist_edited_value", state, overrides, copy));
        }
        const py::object text =
            selected < count ? py::object(to_str(values[py::int_(selected)])) : py::object(py::str(""));
        set_item(state, "typing_active", py::bool_(true));
        set_item(state, "edit_index", py::int_(selected));
        set_item(state, "input_buffer", text);
        set_item(state, "cursor_index", py::int_(py::len(text)));
    }
    return result(false);
}

// The editor's buffer with its cursor. Typed keys and values may hold control
// characters; those are drawn escaped, with the cursor on the same character.
std::u32string text_with_cursor(const py::object& state) {
    const py::object buffer = item(state, "input_buffer");
    const py::object cursor = item(state, "cursor_index");
    const std::u32string text = to_u32(buffer);
    if (std::none_of(text.begin(), text.end(), display::is_control)) {
        return to_u32(call_global("render_text_with_cursor", buffer, cursor));
    }
    const auto split =
        static_cast<std::size_t>(std::clamp(as_index(cursor), 0LL, static_cast<long long>(text.size())));
    const std::u32string before = display::escape_controls(std::u32string_view(text).substr(0, split));
    const std::u32string after = display::escape_controls(std::u32string_view(text).substr(split));
    return to_u32(call_global("render_text_with_cursor", from_u32(before + after),
                              py::int_(static_cast<long long>(before.size()))));
}

// One slot of the list line: the typed text with its cursor, the highlighted
// slot inverted, or the plain text.
std::u32string list_slot(const py::object& state, bool typing, bool typing_here, bool selected_here,
                         const std::u32string& text) {
    if (typing_here) return text_with_cursor(state);
    if (selected_here && !typing) return style::inverted(text);
    return text;
}

py::str format_list_editor_line(const py::object& state) {
    const py::object values = item(state, "values");
    const bool typing = truthy(item(state, "typing_active"));
    const py::object edit_index = item(state, "edit_index");
    const py::object selected = item(state, "selected_index");
    const py::int_ count(py::len(values));

    std::vector<std::u32string> parts;
    long long index = 0;
    for (const py::handle element : values) {
        const py::int_ position(index++);
        parts.push_back(list_slot(state, typing, typing && equals(position, edit_index),
                                  equals(position, selected),
                                  display::escape_controls(to_u32(to_str(element)))));
    }
    // The add slot is highlighted whenever it is selected and not being typed into.
    const bool typing_add = typing && equals(edit_index, count);
    std::u32string add = typing_add                ? list_slot(state, typing, true, false, U"")
                         : equals(selected, count) ? style::inverted(U"Add new entry")
                                                   : std::u32string(U"Add new entry");
    parts.push_back(add);
    const bool save_selected = equals(selected, py::int_(static_cast<long long>(py::len(values)) + 1));
    parts.push_back(save_selected && !typing ? style::inverted(U"Save list and return")
                                             : std::u32string(U"Save list and return"));

    std::u32string line;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) line += U" | ";
        line += parts[i];
    }
    return from_u32(line);
}

// Title, blank, value, blank, hint; on a small terminal the blank lines and
// then the hint give way, and the value shows its first rows.
std::u32string fit_editor_frame(const std::u32string& title, const std::u32string& value_line,
                                const std::u32string& hint) {
    py::object size = call_global("terminal_size");
    const auto columns = py::cast<long long>(size.attr("columns"));
    const auto lines = py::cast<long long>(size.attr("lines"));
    if (layout::too_small(columns, lines)) return layout::too_small_frame(columns, lines);
    const std::u32string text = title + U"\n\n" + value_line + U"\n\n" + hint;
    const long long rows = layout::frame_rows_available(lines);
    if (layout::frame_rows(text, columns) <= rows) return text;
    const layout::FittedFrame fitted = layout::fit_screen(
        {{title, 0}, {U"", 1}}, 1, [&](long long) -> const std::u32string& { return value_line; },
        {{U"", 1}, {hint, layout::kGivesWayLast}}, 0, layout::Focus{0, 1}, columns, rows, 1);
    return fitted.text;
}

// The editor's frame as `_render_editor_frame` prints it, before wrapping.
std::u32string editor_frame_text(const py::object& state) {
    const std::u32string name = display::escape_controls(to_u32(to_str(item(state, "setting_name"))));
    const std::u32string title = U"  " + style::color_text(U"Edit " + name, style::kColorTitle);
    std::u32string value_line;
    std::u32string hint;
    if (equals(item(state, "kind"), py::str("scalar"))) {
        value_line = U"  " + text_with_cursor(state);
        hint = style::dim(U"  Enter save · Esc cancel");
    } else {
        value_line = U"  " + to_u32(call_global("_format_list_editor_line", state));
        hint = style::dim(U"  ←/→ move · Enter edit/select · Backspace/Delete remove · Esc cancel");
    }
    return fit_editor_frame(title, value_line, hint);
}

void render_editor_frame(const py::object& state) {
    // Qualified: with a py::str argument, unqualified `print` would find py::print by ADL.
    nvx::print_text(py::str("\x1b[2J\x1b[H"), "");
    nvx::print_text(call_global("wrap_screen_text_for_terminal", from_u32(editor_frame_text(state))));
}

}  // namespace

long long editor_frame_rows(const py::object& state) {
    const auto columns = py::cast<long long>(call_global("terminal_size").attr("columns"));
    return layout::frame_rows(editor_frame_text(state), columns);
}

void register_editors(py::module_& m) {
    def(m, "_new_scalar_editor", {"setting_name", "value", "scope_key"}, nullptr, [](Args& a) {
        const py::str text = to_str(a[1]);
        py::dict state;
        state["kind"] = py::str("scalar");
        state["setting_name"] = a[0];
        state["sample_value"] = a[1];
        state["input_buffer"] = text;
        state["cursor_index"] = py::int_(py::len(text));
        state["scope_key"] = a[2];
        return state;
    });
    def(m, "_new_list_editor", {"setting_name", "value", "scope_key"}, nullptr, [](Args& a) {
        const py::object values = py::reinterpret_steal<py::object>(PySequence_List(a[1].ptr()));
        if (!values) throw py::error_already_set();
        py::dict state;
        state["kind"] = py::str("list");
        state["setting_name"] = a[0];
        state["values"] = values;
        state["selected_index"] = py::int_(0);
        state["sample_type"] = py::len(values) > 0 ? py::object(values[py::int_(0)]) : py::object(py::none());
        state["typing_active"] = py::bool_(false);
        state["edit_index"] = py::none();
        state["input_buffer"] = py::str("");
        state["cursor_index"] = py::int_(0);
        state["scope_key"] = a[2];
        return state;
    });
    def(m, "_render_editor_frame", {"state"}, nullptr, [](Args& a) { render_editor_frame(a[0]); });
    def(m, "_format_list_editor_line", {"state"}, nullptr,
        [](Args& a) { return format_list_editor_line(a[0]); });
    def(m, "_persist_edited_value", {"state", "module_settings_overrides", "value"}, nullptr,
        [](Args& a) { return persist_edited_value(a[0], a[1], a[2]); });
    def(m, "_handle_scalar_editor", {"state", "key", "module_settings_overrides"}, nullptr,
        [](Args& a) { return handle_scalar_editor(a[0], a[1], a[2]); });
    def(m, "_handle_list_editor", {"state", "key", "module_settings_overrides"}, nullptr, [](Args& a) {
        if (truthy(item(a[0], "typing_active"))) return handle_list_typing(a[0], a[1]);
        return handle_list_navigation(a[0], a[1], a[2]);
    });
}

}  // namespace nvx::configure
