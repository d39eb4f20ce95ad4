#include "editors.hpp"

#include <algorithm>
#include <stdexcept>
#include <string_view>

#include "core/keys/key_table.hpp"
#include "core/layout/screen_layout.hpp"
#include "core/text/display_text.hpp"
#include "core/text/styling.hpp"

namespace nvx::editors {
namespace {

using keys::Action;

// Applies a cursor or editing action to the text; returns the fields written.
// Moving writes the cursor; an edit writes the text and the cursor; a
// Backspace at the start or a Delete at the end writes nothing.
unsigned edit_text(Field<std::u32string>& buffer, Field<long long>& cursor, Action action,
                   const std::u32string& key) {
    TextState after{};
    switch (action) {
        case Action::CursorLeft:
            after = move_left({buffer.get(), cursor.get()});
            break;
        case Action::CursorRight:
            after = move_right({buffer.get(), cursor.get()});
            break;
        case Action::CursorHome:
            after = move_home({buffer.get(), cursor.get()});
            break;
        case Action::CursorEnd:
            after = move_end({buffer.get(), cursor.get()});
            break;
        case Action::EraseBefore: {
            const TextState before{buffer.get(), cursor.get()};
            if (before.cursor <= 0) return 0;
            after = erase_before(before);
            break;
        }
        case Action::EraseAt: {
            const TextState before{buffer.get(), cursor.get()};
            if (before.cursor >= static_cast<long long>(before.buffer.size())) return 0;
            after = erase_at(before);
            break;
        }
        case Action::TypeCharacter:
            after = insert({buffer.get(), cursor.get()}, key[0]);
            break;
        default:
            return 0;
    }
    cursor.set(after.cursor);
    const bool moves_only = action == Action::CursorLeft || action == Action::CursorRight ||
                            action == Action::CursorHome || action == Action::CursorEnd;
    if (moves_only) return kWroteCursor;
    buffer.set(after.buffer);
    return kWroteBuffer | kWroteCursor;
}

// The element at `index` under the interpreter's list indexing (negative
// counts from the end); out of range, the interpreter's own words (the
// bindings raise std::out_of_range as the interpreter's index error).
std::size_t list_position(long long index, std::size_t size, const char* words) {
    const auto length = static_cast<long long>(size);
    const long long position = index < 0 ? index + length : index;
    if (position < 0 || position >= length) throw std::out_of_range(words);
    return static_cast<std::size_t>(position);
}
constexpr const char* kIndexOutOfRange = "list index out of range";
constexpr const char* kAssignmentOutOfRange = "list assignment index out of range";

Outcome done(std::u32string message = {}) {
    Outcome outcome;
    outcome.done = true;
    outcome.message = std::move(message);
    return outcome;
}

Outcome wrote(unsigned fields) {
    Outcome outcome;
    outcome.written = fields;
    return outcome;
}

// Typing ends: the slot keeps its value until a commit writes it.
unsigned leave_typing(ListEditor& state) {
    state.typing.set(false);
    state.edit_index.set(std::nullopt);
    state.buffer.set(U"");
    return kWroteTyping | kWroteEditIndex | kWroteBuffer;
}

// Enter while typing: the text replaces the slot's element or is appended.
Outcome commit_list_entry(ListEditor& state, settings::SettingsPort& settings) {
    std::vector<Value>& values = state.values.get();
    const std::optional<long long> edit_index = state.edit_index.get();
    const bool replaces = edit_index && *edit_index < static_cast<long long>(values.size());
    const Value sample = replaces ? values[list_position(*edit_index, values.size(), kIndexOutOfRange)]
                                  : state.sample_type.get();
    settings::ParseResult parsed = settings.parse(state.buffer.get(), sample);
    if (!parsed.value) {
        Outcome outcome = wrote(leave_typing(state));
        outcome.message = U"Invalid list entry: " + parsed.error;
        return outcome;
    }
    Outcome outcome;
    if (replaces) {
        values[list_position(*edit_index, values.size(), kAssignmentOutOfRange)] = *parsed.value;
        state.selected.set(*edit_index);
        outcome.change = {ListChange::Kind::Replace, *edit_index, *parsed.value};
    } else {
        values.push_back(*parsed.value);
        state.selected.set(static_cast<long long>(values.size()) - 1);
        outcome.change = {ListChange::Kind::Append, 0, *parsed.value};
    }
    outcome.written = kWroteSelected | leave_typing(state) | kWroteCursor;
    state.cursor.set(0);
    return outcome;
}

Outcome handle_list_typing(ListEditor& state, const std::u32string& key, settings::SettingsPort& settings) {
    const Action action = keys::action_in(keys::Place::ListEditorTyping, key);
    if (action == Action::StopTyping) {
        const unsigned fields = leave_typing(state) | kWroteCursor;
        state.cursor.set(0);
        return wrote(fields);
    }
    if (action == Action::CommitEntry) return commit_list_entry(state, settings);
    return wrote(edit_text(state.buffer, state.cursor, action, key));
}

Outcome handle_list_navigation(ListEditor& state, const std::u32string& key, settings::SettingsPort& settings,
                               const SetOverride& set_override) {
    const Action action = keys::action_in(keys::Place::ListEditor, key);
    if (action == Action::Cancel) return done();
    std::vector<Value>& values = state.values.get();
    const long long selected = state.selected.get();
    const auto count = static_cast<long long>(values.size());
    switch (action) {
        case Action::SelectPrevious:
            state.selected.set(std::max(0LL, selected - 1));
            return wrote(kWroteSelected);
        case Action::SelectNext:
            state.selected.set(std::min(selected + 1, count + 1));
            return wrote(kWroteSelected);
        case Action::RemoveElement: {
            // The selection keeps its number: it now names the next element or the add slot.
            Outcome outcome;
            if (selected < count) {
                values.erase(values.begin() + static_cast<std::ptrdiff_t>(list_position(
                                                  selected, values.size(), kAssignmentOutOfRange)));
                outcome.change = {ListChange::Kind::Erase, selected, {}};
            }
            return outcome;
        }
        case Action::Select: {
            if (selected == count + 1) {
                return done(persist_edit(state.scope_key, state.setting_name, Value::list_of(values),
                                         settings, set_override));
            }
            const std::u32string text =
                selected < count ? values[list_position(selected, values.size(), kIndexOutOfRange)].text()
                                 : U"";
            state.typing.set(true);
            state.edit_index.set(selected);
            state.buffer.set(text);
            state.cursor.set(static_cast<long long>(text.size()));
            return wrote(kWroteTyping | kWroteEditIndex | kWroteBuffer | kWroteCursor);
        }
        default:
            return {};
    }
}

}  // namespace

ScalarEditor new_scalar_editor(Name setting_name, Value value, std::optional<Name> scope_key) {
    ScalarEditor state;
    std::u32string text = value.text();
    state.cursor = static_cast<long long>(text.size());
    state.buffer = std::move(text);
    state.setting_name = std::move(setting_name);
    state.sample = std::move(value);
    state.scope_key = std::move(scope_key);
    return state;
}

ListEditor new_list_editor(Name setting_name, std::vector<Value> elements, std::optional<Name> scope_key) {
    ListEditor state;
    state.setting_name = std::move(setting_name);
    state.sample_type = elements.empty() ? Value() : elements.front();
    state.values = std::move(elements);
    state.selected = 0LL;
    state.typing = false;
    state.edit_index = std::optional<long long>();
    state.buffer = std::u32string();
    state.cursor = 0LL;
    state.scope_key = std::move(scope_key);
    return state;
}

std::u32string persist_edit(const Field<std::optional<Name>>& scope_key, const Field<Name>& setting_name,
                            const Value& value, settings::SettingsPort& settings,
                            const SetOverride& set_override) {
    if (const std::optional<Name>& scope = scope_key.get()) {
        set_override(*scope, setting_name.get(), value);
        return U"";
    }
    const settings::SettingResult result = settings.apply(setting_name.get(), value);
    return result.ok ? U"" : result.message;
}

Outcome handle_scalar_key(ScalarEditor& state, const std::u32string& key, settings::SettingsPort& settings,
                          const SetOverride& set_override) {
    const Action action = keys::action_in(keys::Place::ScalarEditor, key);
    if (action == Action::Cancel) return done();
    if (action != Action::Save) return wrote(edit_text(state.buffer, state.cursor, action, key));
    const std::u32string& text = state.buffer.get();  // read before the sample
    const settings::ParseResult parsed = settings.parse(text, state.sample.get());
    if (!parsed.value) {
        // The edit is dropped: an invalid value closes the editor with the parser's words.
        return done(U"Invalid value for " + state.setting_name.get().text + U": " + parsed.error);
    }
    return done(persist_edit(state.scope_key, state.setting_name, *parsed.value, settings, set_override));
}

Outcome handle_list_key(ListEditor& state, const std::u32string& key, settings::SettingsPort& settings,
                        const SetOverride& set_override) {
    if (state.typing.get()) return handle_list_typing(state, key, settings);
    return handle_list_navigation(state, key, settings, set_override);
}

std::u32string text_with_cursor(const Field<std::u32string>& buffer, const Field<long long>& cursor) {
    const std::u32string& text = buffer.get();
    const long long at = cursor.get();
    if (std::none_of(text.begin(), text.end(), display::is_control))
        return layout::render_with_cursor(text, at);
    // The cursor stays on the same character once the controls before it are escaped.
    const auto split = static_cast<std::size_t>(std::clamp(at, 0LL, static_cast<long long>(text.size())));
    const std::u32string before = display::escape_controls(std::u32string_view(text).substr(0, split));
    const std::u32string after = display::escape_controls(std::u32string_view(text).substr(split));
    return layout::render_with_cursor(before + after, static_cast<long long>(before.size()));
}

std::u32string list_line(const ListEditor& state) {
    const std::vector<Value>& values = state.values.get();
    const bool typing = state.typing.get();
    const std::optional<long long>& edit_index = state.edit_index.get();
    const long long selected = state.selected.get();
    const auto count = static_cast<long long>(values.size());
    const auto typing_into = [&](long long slot) { return typing && edit_index && *edit_index == slot; };

    std::u32string line;
    for (long long i = 0; i < count; ++i) {
        const std::u32string text = display::escape_controls(values[static_cast<std::size_t>(i)].text());
        if (typing_into(i)) {
            line += text_with_cursor(state.buffer, state.cursor);
        } else if (i == selected && !typing) {
            line += style::inverted(text);
        } else {
            line += text;
        }
        line += U" | ";
    }
    // The add slot is highlighted whenever it is selected and not being typed into.
    if (typing_into(count)) {
        line += text_with_cursor(state.buffer, state.cursor);
    } else {
        line += selected == count ? style::inverted(U"Add new entry") : std::u32string(U"Add new entry");
    }
    line += U" | ";
    line += selected == count + 1 && !typing ? style::inverted(U"Save list and return")
                                             : std::u32string(U"Save list and return");
    return line;
}

}  // namespace nvx::editors
