// Edits of the rule lists (an id rule, a type rule, clearing) and the two
// read-only queries over the entries that the Targets screen shows.
#pragma once

#include <pybind11/pybind11.h>

namespace nvx::target {
namespace py = pybind11;

class EntryTable;

// `set_module_id_mode(module_id, mode)` and `set_module_name_mode(module_type_name, mode)`.
void set_module_id_mode(const py::object& module_id, const py::object& mode);
void set_module_name_mode(const py::object& module_type_name, const py::object& mode);

// `clear_module_mode(entry)`: the status-line message.
py::object clear_module_mode(const py::object& entry);

// `type_rule_entries(entries)`: (type name, mode, live count) tuples.
py::list type_rule_entries(const py::object& entries);

// `unset_module_entries(entries, resolved)`, also on a table already built for the entries.
py::list unset_module_entries(const py::object& entries, const py::object& resolved);
py::list unset_module_entries(const EntryTable& table, const py::object& resolved);

}  // namespace nvx::target
