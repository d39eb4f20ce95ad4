// Per-module override scopes and the merge of saved and in-session values.
// Scope keys are module ids (".a.b") or class names; both share one key space.
#pragma once

#include <pybind11/pybind11.h>

namespace nvx::overrides {
namespace py = pybind11;

// (scope dict or None, refusal text or None) for a module entry and the
// resolved-mode map.
py::tuple override_scope_for_entry(const py::handle& entry, const py::handle& resolved);

// Saved scope values, then the in-session ones on top, as a new dict; a setting
// removed in this session is absent.
py::dict scope_values(const py::handle& scope_key, const py::handle& module_settings_overrides,
                      const py::handle& existing_module_settings);

// module_settings_overrides[scope_key][setting_name] = value, creating the scope.
void set_scoped_value(const py::handle& module_settings_overrides, const py::handle& scope_key,
                      const py::handle& setting_name, const py::handle& value);

// The in-session value that stands for "removed from this scope": the scope
// falls back to the class or run-wide value, and saving deletes the setting
// from the scope in each file.
py::handle removed_value();
bool is_removed(const py::handle& value);

// Removes one setting from a scope in this session (its saved value included).
void remove_scoped_value(const py::handle& module_settings_overrides, const py::handle& scope_key,
                         const py::handle& setting_name);

}  // namespace nvx::overrides
