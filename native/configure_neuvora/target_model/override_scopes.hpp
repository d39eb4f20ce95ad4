// Which override scope a module entry opens, read from an entry and a record
// map handed in (`get_override_scope_for_entry`).
#pragma once

#include <pybind11/pybind11.h>

namespace nvx::target {
namespace py = pybind11;

// (scope dict, None) or (None, the reason there is none).
py::tuple override_scope_for_entry(const py::handle& entry, const py::handle& resolved);

}  // namespace nvx::target
