// The inline editors' public functions over the core's editors. An editor is
// the caller's dictionary: each call reads it into the core's state (a field
// the dictionary lacks, or cannot give as its type, fails only when a key
// needs it), hands the key to the core and writes back the fields the key
// changed; the list editor's "values" list is changed in place.
#include <exception>
#include <optional>
#include <utility>

#include "common/functions.hpp"
#include "common/interp.hpp"
#include "configure_neuvora/overrides/scopes.hpp"
#include "configure_neuvora/registry.hpp"
#include "configure_neuvora/run_settings/interpreter_settings.hpp"
#include "configure_neuvora/run_settings/value_bridge.hpp"
#include "configure_neuvora/seams.hpp"
#include "configure_neuvora/terminal/text_adapters.hpp"
#include "core/editors/editors.hpp"
#include "core/screens/editor_frame.hpp"

namespace nvx::configure {
namespace {

using editors::Field;
using settings::Name;
using settings::Value;

// state[key] read as a field; an error of the Exception family (or a value
// that is no index) is kept for the editor to raise where it needs the field.
template <typename T, typename Read>
Field<T> field(const py::handle& state, const char* key, Read read) {
    try {
        return Field<T>(read(py::object(state[py::str(key)])));
    } catch (py::error_already_set& error) {
        if (!error.matches(PyExc_Exception)) throw;
        return Field<T>::failed(std::current_exception());
    } catch (py::cast_error&) {
        return Field<T>::failed(std::current_exception());
    }
}

long long index_of(const py::object& value) {
    return py::cast<long long>(value);
}

std::optional<long long> optional_index(const py::object& value) {
    if (value.is_none()) return std::nullopt;
    return index_of(value);
}

std::optional<Name> optional_name(const py::object& value) {
    if (value.is_none()) return std::nullopt;
    return to_name(value);
}

std::u32string text(const py::object& value) {
    return to_u32(value);
}

editors::ScalarEditor read_scalar(const py::handle& state) {
    editors::ScalarEditor editor;
    editor.setting_name = field<Name>(state, "setting_name", to_name);
    editor.sample = field<Value>(state, "sample_value", to_value);
    editor.buffer = field<std::u32string>(state, "input_buffer", text);
    editor.cursor = field<long long>(state, "cursor_index", index_of);
    editor.scope_key = field<std::optional<Name>>(state, "scope_key", optional_name);
    return editor;
}

editors::ListEditor read_list(const py::handle& state) {
    editors::ListEditor editor;
    editor.setting_name = field<Name>(state, "setting_name", to_name);
    editor.values = field<std::vector<Value>>(state, "values", to_values);
    editor.selected = field<long long>(state, "selected_index", index_of);
    editor.sample_type = field<Value>(state, "sample_type", to_value);
    editor.typing =
        field<bool>(state, "typing_active", [](const py::object& value) { return truthy(value); });
    editor.edit_index = field<std::optional<long long>>(state, "edit_index", optional_index);
    editor.buffer = field<std::u32string>(state, "input_buffer", text);
    editor.cursor = field<long long>(state, "cursor_index", index_of);
    editor.scope_key = field<std::optional<Name>>(state, "scope_key", optional_name);
    return editor;
}

void write_text(const py::handle& state, const Field<std::u32string>& buffer, const Field<long long>& cursor,
                unsigned written) {
    if (written & editors::kWroteBuffer) state[py::str("input_buffer")] = from_u32(buffer.get());
    if (written & editors::kWroteCursor) state[py::str("cursor_index")] = py::int_(cursor.get());
}

// The list change on the caller's own list (the interpreter's indexing and
// errors), then the fields in the order the editor writes them.
void write_list(const py::handle& state, const editors::ListEditor& editor, const editors::Outcome& outcome) {
    using Change = editors::ListChange::Kind;
    const editors::ListChange& change = outcome.change;
    if (change.kind != Change::None) {
        py::object values = state[py::str("values")];
        const py::int_ index(change.index);
        if (change.kind == Change::Erase) {
            if (PyObject_DelItem(values.ptr(), index.ptr()) != 0) throw py::error_already_set();
        } else if (change.kind == Change::Replace) {
            values[index] = to_object(change.value);
        } else {
            values.attr("append")(to_object(change.value));
        }
    }
    const unsigned written = outcome.written;
    if (written & editors::kWroteSelected) state[py::str("selected_index")] = py::int_(editor.selected.get());
    if (written & editors::kWroteTyping) state[py::str("typing_active")] = py::bool_(editor.typing.get());
    if (written & editors::kWroteEditIndex) {
        const std::optional<long long>& edit_index = editor.edit_index.get();
        state[py::str("edit_index")] =
            edit_index ? py::object(py::int_(*edit_index)) : py::object(py::none());
    }
    write_text(state, editor.buffer, editor.cursor, written);
}

// The key as the editors read it. A key that is not text is the Escape key
// when it compares equal to it; any other goes to the key tests, which first
// ask it for `startswith` (an object without text methods fails there, as it
// fails the module's key predicates) and then match no key.
std::u32string key_text(const py::object& key) {
    if (is_str(key)) return to_u32(key);
    if (equals(key, py::str("\x1b"))) return U"\x1b";
    key.attr("startswith")(py::str("\x1b"));
    return {};
}

// Finished values for an override scope go into the caller's overrides map.
editors::SetOverride into(const py::object& overrides) {
    return [overrides](const Name& scope_key, const Name& setting_name, const Value& value) {
        overrides::set_scoped_value(overrides, to_object(scope_key), to_object(setting_name),
                                    to_object(value));
    };
}

py::tuple result(const editors::Outcome& outcome) {
    return py::make_tuple(py::bool_(outcome.done), from_u32(outcome.message));
}

py::tuple handle_scalar_editor(const py::object& state, const py::object& key, const py::object& overrides) {
    editors::ScalarEditor editor = read_scalar(state);
    InterpreterSettings settings;
    const editors::Outcome outcome =
        editors::handle_scalar_key(editor, key_text(key), settings, into(overrides));
    write_text(state, editor.buffer, editor.cursor, outcome.written);
    return result(outcome);
}

py::tuple handle_list_editor(const py::object& state, const py::object& key, const py::object& overrides) {
    editors::ListEditor editor = read_list(state);
    InterpreterSettings settings;
    const editors::Outcome outcome =
        editors::handle_list_key(editor, key_text(key), settings, into(overrides));
    write_list(state, editor, outcome);
    return result(outcome);
}

py::str persist_edited_value(const py::object& state, const py::object& overrides, const py::object& value) {
    const auto scope_key = field<std::optional<Name>>(state, "scope_key", optional_name);
    const auto setting_name = field<Name>(state, "setting_name", to_name);
    InterpreterSettings settings;
    return from_u32(
        editors::persist_edit(scope_key, setting_name, to_value(value), settings, into(overrides)));
}

py::dict new_scalar_editor(const py::object& setting_name, const py::object& value,
                           const py::object& scope_key) {
    const editors::ScalarEditor editor =
        editors::new_scalar_editor(to_name(setting_name), to_value(value), optional_name(scope_key));
    py::dict state;
    state["kind"] = py::str("scalar");
    state["setting_name"] = setting_name;
    state["sample_value"] = value;
    state["input_buffer"] = from_u32(editor.buffer.get());
    state["cursor_index"] = py::int_(editor.cursor.get());
    state["scope_key"] = scope_key;
    return state;
}

py::dict new_list_editor(const py::object& setting_name, const py::object& value,
                         const py::object& scope_key) {
    const editors::ListEditor editor =
        editors::new_list_editor(to_name(setting_name), to_values(value), optional_name(scope_key));
    py::list values;
    for (const Value& element : editor.values.get()) values.append(to_object(element));
    py::dict state;
    state["kind"] = py::str("list");
    state["setting_name"] = setting_name;
    state["values"] = values;
    state["selected_index"] = py::int_(editor.selected.get());
    state["sample_type"] = to_object(editor.sample_type.get());
    state["typing_active"] = py::bool_(editor.typing.get());
    state["edit_index"] = py::none();
    state["input_buffer"] = from_u32(editor.buffer.get());
    state["cursor_index"] = py::int_(editor.cursor.get());
    state["scope_key"] = scope_key;
    return state;
}

// `_render_editor_frame(state)`: clears the screen and prints the frame of
// the editor `state` (a state dictionary).
void render_editor_frame(const py::object& state) {
    print_text(py::str("\x1b[2J\x1b[H"), "");
    const layout::TerminalSize size = read_terminal_size();
    // The name is read first, then the kind.
    field<Name>(state, "setting_name", to_name).get();
    const layout::ScreenFrame frame = equals(state[py::str("kind")], py::str("scalar"))
                                          ? screens::scalar_editor_frame(read_scalar(state))
                                          : screens::list_editor_frame(read_list(state));
    print_text(from_u32(screens::editor_frame_text(frame, size.columns, size.lines)));
}

}  // namespace

void register_editors(py::module_& m) {
    def(m, "_new_scalar_editor", {"setting_name", "value", "scope_key"}, nullptr,
        [](Args& a) { return new_scalar_editor(a[0], a[1], a[2]); });
    def(m, "_new_list_editor", {"setting_name", "value", "scope_key"}, nullptr,
        [](Args& a) { return new_list_editor(a[0], a[1], a[2]); });
    def(m, "_render_editor_frame", {"state"}, nullptr, [](Args& a) { render_editor_frame(a[0]); });
    def(m, "_format_list_editor_line", {"state"}, nullptr,
        [](Args& a) { return from_u32(editors::list_line(read_list(a[0]))); });
    def(m, "_persist_edited_value", {"state", "module_settings_overrides", "value"}, nullptr,
        [](Args& a) { return persist_edited_value(a[0], a[1], a[2]); });
    def(m, "_handle_scalar_editor", {"state", "key", "module_settings_overrides"}, nullptr,
        [](Args& a) { return handle_scalar_editor(a[0], a[1], a[2]); });
    def(m, "_handle_list_editor", {"state", "key", "module_settings_overrides"}, nullptr,
        [](Args& a) { return handle_list_editor(a[0], a[1], a[2]); });
}

}  // namespace nvx::configure
