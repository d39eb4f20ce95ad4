// Text of the overlays drawn over the two screens: the key reference, the
// Targets legend, the quit confirmation, the type-rules box, the per-scope
// overrides list and the save choices. Plain code-point text; the bindings fetch
// the data from the interpreter and hand it in already converted to text.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace nvx::overlays {

using Lines = std::vector<std::u32string>;

// Fixed reference texts.
Lines help_lines();
Lines legend_lines();
Lines quit_lines();

// Key reference of the editing keys that go beyond the screens' own keys
// (undo and redo, the next module that needs a mode, removing an override, Home
// and End in the number editor); the session shows them in the help overlay.
Lines editing_help_lines();

// One row of the type-rules box: `plain` measures the visible width of `styled`.
struct TypeRuleRow {
    std::u32string plain;
    std::u32string styled;
};

// A rule row: type name, "→ verb" in the mode colour, the dimmed count.
TypeRuleRow type_rule_row(const std::u32string& type_name, const std::u32string& verb,
                          const std::u32string& colored_arrow, const std::u32string& count);
// The arrow piece of a rule row before colouring: "→ " + verb.
std::u32string type_rule_arrow(const std::u32string& verb);
// A dimmed hint row under a rule row.
TypeRuleRow type_rule_hint(const std::u32string& text);
// "also in this model: A (2), B (1), a Linear subclass": `classes` are the
// first (name, count) pairs to show, `more` whether others follow.
std::u32string near_miss_text(const std::vector<std::pair<std::u32string, std::size_t>>& classes, bool more,
                              const std::u32string& rule);
// The hint of a rule whose class no module has.
std::u32string matches_nothing_text();
// How many near-miss classes a hint names.
inline constexpr std::size_t kNearMissesShown = 3;

// The box around `rows` (a single placeholder row when empty) and the close hint.
Lines type_rules_box(const std::vector<TypeRuleRow>& rows);

// Overrides overlay pieces.
std::u32string overrides_title(bool id_scope, const std::u32string& scope_key);
Lines overrides_head(const std::u32string& tab_bar, const std::u32string& title);
std::u32string overrides_empty_line();
std::u32string override_row(bool selected, const std::u32string& name, const std::u32string& value_text,
                            bool overridden);
std::u32string overrides_describe_line(const std::u32string& name, const std::u32string& description);
std::u32string overrides_key_hint();

// Save overlay. `unset_listed` holds (id, class name) of the first unset modules
// to show (at most five), `unset_count` how many there are in all; `selected`
// tells whether option i is the highlighted one. `conflicts` describes every
// pair of rows that hold the same tensors with different modes, and
// `conflict_tensors` counts those tensors.
Lines save_lines(const std::vector<std::pair<std::u32string, std::u32string>>& unset_listed,
                 std::size_t unset_count, const std::function<bool(std::size_t)>& selected,
                 const std::u32string& config_target_path, const std::vector<std::u32string>& conflicts = {},
                 std::size_t conflict_tensors = 0);

// How many unset modules the save overlay lists by name.
inline constexpr std::size_t kSaveListedUnset = 5;

}  // namespace nvx::overlays
