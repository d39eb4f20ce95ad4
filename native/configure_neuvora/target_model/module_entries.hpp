// The model's module tree as a list of module entries (one dict per submodule,
// in pre-order), plus the two small utilities the rest of the target model uses.
#pragma once

#include <pybind11/pybind11.h>

namespace nvx::target {
namespace py = pybind11;

// `get_module_entries(model)`.
py::object get_module_entries(const py::object& model);

// `get_parent_module_id(module_id)`: the parent's id, or None for a direct child.
py::object get_parent_module_id(const py::object& module_id);

// `dedupe_list(values)`: a new list without duplicates, first occurrences kept.
py::list dedupe_list(const py::object& values);

}  // namespace nvx::target
