// The compact count format of the Targets screen for any number the
// interpreter hands in; machine integers are formatted by the core.
#pragma once

#include <pybind11/pybind11.h>

namespace nvx::target {
namespace py = pybind11;

// `format_human_count(value)`.
py::str format_human_count(const py::object& value);

}  // namespace nvx::target
