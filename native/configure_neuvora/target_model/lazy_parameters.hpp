// Lazy modules (nn.LazyLinear and friends) hold parameters without a shape
// until their first forward pass: nothing about them can be counted, so the
// configurator asks the user to run that pass (or materialise the module) first.
#pragma once

#include <pybind11/pybind11.h>

namespace nvx::target {
namespace py = pybind11;

// Raises ValueError naming the first module of `model` (in traversal order)
// that holds an uninitialized parameter; returns when there is none, when only
// a model without submodules holds one, or when `model` is not something this
// can walk.
void require_initialized_parameters(const py::object& model);

// For an error raised while reading `model`: when the model holds an
// uninitialized parameter, raises that ValueError with `cause` chained as its
// cause; otherwise returns (the caller re-raises `cause`).
void explain_uninitialized_parameters(const py::object& model, py::error_already_set& cause);

}  // namespace nvx::target
