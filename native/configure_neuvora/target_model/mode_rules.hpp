// The four rule lists of the configuration object, their clean-up, and the
// resolution of every module entry's effective mode.
#pragma once

#include <pybind11/pybind11.h>

#include <string_view>
#include <vector>

namespace nvx::target {
namespace py = pybind11;

// `value in rules` for one rule list read once, without rescanning the list for
// every value asked about: plain text values are looked up in a set, anything
// else is compared the way the interpreter's list membership compares it.
class RuleMembership {
public:
    explicit RuleMembership(py::object rules);
    bool contains(PyObject* value) const;
    // The UTF-8 of every value when all are exact str (the views live as long as
    // the rule list); false otherwise.
    bool text_values(std::vector<std::string_view>& out) const;

private:
    py::object rules_;
    py::object text_values_;  // set of the exact-str values (when `rules` is a list or tuple)
    std::vector<py::object> other_values_;
    bool indexed_ = false;
};

// `normalize_selection_conflicts()`.
void normalize_selection_conflicts();

// `get_id_mode(module_id)` and `get_name_mode(module_type_name)`.
py::object get_id_mode(const py::object& module_id);
py::object get_name_mode(const py::object& module_type_name);

// `resolve_entry_modes(entries)`.
py::object resolve_entry_modes(const py::object& entries);

}  // namespace nvx::target
