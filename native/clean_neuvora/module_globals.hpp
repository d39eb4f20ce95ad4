// The module globals the conversion reads at the time of use, so that code
// outside may replace them (switching `doing_threading` on, another
// `ModuleType`, a stand-in `GNV`), and the interpreter's print. These are the
// only names looked up; the module's own functions call each other directly.
#pragma once

#include <pybind11/pybind11.h>

namespace nvx::clean {
namespace py = pybind11;

enum class Global { GNV, Nn, Torch, Thread, DoingThreading, ModuleType, Print };

// The global's current value: the module's attribute, else the builtin of that
// name; NameError when neither exists.
py::object module_global(Global which);

}  // namespace nvx::clean
