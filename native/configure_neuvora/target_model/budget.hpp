// The dendrification budget line under the Targets tree and the compact count
// format, on interpreter values.
#pragma once

#include <pybind11/pybind11.h>

namespace nvx::target {
namespace py = pybind11;

// `format_human_count(value)`.
py::str format_human_count(const py::object& value);

// `build_budget_line(entries, resolved)`.
py::str build_budget_line(const py::object& entries, const py::object& resolved);

}  // namespace nvx::target
