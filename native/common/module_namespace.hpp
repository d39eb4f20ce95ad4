// The namespace of the extension module being run, read at the time of use.
//
// Globals are never cached: `global()` reads the module's `__dict__` (then the
// builtins) at the time of use, so replacing a module attribute from Python takes
// effect on the next call, exactly as it would for interpreted code.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace nvx {
namespace py = pybind11;

// Remembers the extension module being initialised; called once from its init.
void bind_module_namespace(const py::module_& module);

// The module's live `__dict__`.
py::dict module_namespace();

// The module's import name ("neuvora.configure_neuvora").
const std::string& module_name();

// Looks `name` up as a global of interpreted code would: the module's own
// attributes first, then the builtins. Raises NameError when neither has it.
py::object global(const char* name);

}  // namespace nvx
