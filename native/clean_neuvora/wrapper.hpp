// NVXModulePyThread: the inference-time replacement of a dendrite-bearing
// layer. It is a real subclass of torch.nn.Module, created at module init with
// `type(name, (torch.nn.Module,), namespace)`, whose methods are native.
#pragma once

#include <pybind11/pybind11.h>

namespace nvx::clean {
namespace py = pybind11;

// Builds the class; `module_base` is torch.nn.Module.
py::object create_wrapper_class(const py::object& module_base);

}  // namespace nvx::clean
