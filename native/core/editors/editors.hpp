// The inline value editors as state machines: a scalar editor for one number
// and a list editor for one list, each handling one key at a time. Parsing the
// typed text and writing the finished value go through the settings port (and,
// for an override scope, through `SetOverride`), so the values keep the
// interpreter's types.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/settings/settings_port.hpp"
#include "core/settings/value.hpp"
#include "field.hpp"
#include "text_state.hpp"

namespace nvx::editors {

using settings::Name;
using settings::Value;

struct ScalarEditor {
    Field<Name> setting_name;
    Field<Value> sample;  // decides how the text is parsed back
    Field<std::u32string> buffer;
    Field<long long> cursor;
    Field<std::optional<Name>> scope_key;  // none: the run-wide setting
};

struct ListEditor {
    Field<Name> setting_name;
    Field<std::vector<Value>> values;  // the working copy
    // 0 .. size - 1 an element, size the "Add new entry" slot, size + 1 "Save list and return".
    Field<long long> selected;
    Field<Value> sample_type;  // the first element when the editor opened; None for an empty list
    Field<bool> typing;
    Field<std::optional<long long>> edit_index;  // the slot typed into
    Field<std::u32string> buffer;
    Field<long long> cursor;
    Field<std::optional<Name>> scope_key;
};

ScalarEditor new_scalar_editor(Name setting_name, Value value, std::optional<Name> scope_key);
ListEditor new_list_editor(Name setting_name, std::vector<Value> elements, std::optional<Name> scope_key);

// Writes a finished value into the override scope `scope_key`.
using SetOverride = std::function<void(const Name& scope_key, const Name& setting_name, const Value& value)>;

// The fields a key wrote, for an owner that keeps the state elsewhere.
enum Written : unsigned {
    kWroteSelected = 1u << 0,
    kWroteTyping = 1u << 1,
    kWroteEditIndex = 1u << 2,
    kWroteBuffer = 1u << 3,
    kWroteCursor = 1u << 4,
};

// A change of the list editor's values, by the interpreter's list indexing.
struct ListChange {
    enum class Kind { None, Erase, Replace, Append };
    Kind kind = Kind::None;
    long long index = 0;  // Erase and Replace
    Value value;          // Replace and Append
};

struct Outcome {
    bool done = false;       // the editor closes
    std::u32string message;  // for the status line; "" for none
    unsigned written = 0;    // Written bits
    ListChange change;
};

Outcome handle_scalar_key(ScalarEditor& state, const std::u32string& key, settings::SettingsPort& settings,
                          const SetOverride& set_override);
Outcome handle_list_key(ListEditor& state, const std::u32string& key, settings::SettingsPort& settings,
                        const SetOverride& set_override);

// Writes a finished value: into the override scope when there is one (""),
// else run-wide ("" or the refusal message). The scope is read before the name.
std::u32string persist_edit(const Field<std::optional<Name>>& scope_key, const Field<Name>& setting_name,
                            const Value& value, settings::SettingsPort& settings,
                            const SetOverride& set_override);

// The text being typed with its cursor; control characters drawn escaped.
std::u32string text_with_cursor(const Field<std::u32string>& buffer, const Field<long long>& cursor);
// The list editor's slots: the elements, "Add new entry" and "Save list and return".
std::u32string list_line(const ListEditor& state);

}  // namespace nvx::editors
