// Calls on torch and its modules through the interpreter, shared by both
// extension modules; each module reads its own `torch` global and hands it in.
#pragma once

#include <pybind11/pybind11.h>

#include <initializer_list>

namespace nvx {
namespace py = pybind11;

// `torch.<path...>`, following each name in turn (interned) from `torch`;
// null when torch is None or a name is missing.
py::object torch_attribute(const py::handle& torch, std::initializer_list<PyObject*> path);

// An iterator over `method(recurse=recurse)`, where `method` is a module's
// bound `named_parameters`: the (name, parameter) pairs the interpreter yields.
py::object iterate_named_parameters(PyObject* method, bool recurse);

// `parameter.numel()`.
py::object numel_of(PyObject* parameter);

}  // namespace nvx
