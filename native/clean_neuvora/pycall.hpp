// Small helpers for calling into the interpreter from the conversion module:
// interned attribute names, attribute reads with Python's own semantics and
// calls that forward positional tuples and keyword dictionaries.
#pragma once

#include <pybind11/pybind11.h>

#include <initializer_list>

#include "common/interp.hpp"

namespace nvx::clean {
namespace py = pybind11;

// Interned names used on every forward call (created once at module init).
struct Names {
    PyObject* layer_array;
    PyObject* processor_array;
    PyObject* skip_weights;
    PyObject* node_index;
    PyObject* num_cycles;
    PyObject* view_tuple;
    PyObject* process_and_forward;
    PyObject* process_and_pre;
    PyObject* forward;
    PyObject* pre;
    PyObject* post;
    PyObject* pc;
    PyObject* get_nvx_forward_function;
    PyObject* tolist;
    PyObject* view;
    PyObject* to;
    PyObject* device;
    PyObject* start;
    PyObject* join;
    PyObject* clone;
    PyObject* detach;
    PyObject* register_buffer;
    PyObject* thread_kwnames;  // ("target", "args", "kwargs")
    PyObject* parameters_;     // "_parameters"
    PyObject* buffers_;        // "_buffers"
    PyObject* modules_;        // "_modules"
};

const Names& names();
void init_names();

// Remembers the torch classes and functions that the member fast paths below
// must recognise (the objects themselves, so a replacement made later is not
// mistaken for them).
void init_module_lookup(py::handle module_class, py::handle module_list_class,
                        py::handle parameter_list_class);

// `obj.name` (may raise).
inline py::object get_attr(py::handle obj, PyObject* name) {
    return steal(PyObject_GetAttr(obj.ptr(), name));
}

// `module.name` for a torch module, resolved as torch resolves it (class data
// descriptors, the instance dict, class attributes, then the module's
// parameters, buffers and submodules) without the interpreted fallback.
py::object module_attr(py::handle module, PyObject* name);

// module_attr, or a null object when the module has no such member.
py::object module_attr_if_present(py::handle module, PyObject* name);

// `container[index]` and `len(container)`, served from the module's registry
// for an exact ModuleList or ParameterList (as their own methods do).
py::object container_item(py::handle container, Py_ssize_t index);
Py_ssize_t container_len(py::handle container);

// `obj[index]` and `obj[index] = value` with an integer index.
py::object get_index(py::handle obj, Py_ssize_t index);
void set_index(py::handle obj, Py_ssize_t index, py::handle value);

// `callable(*prefix, *rest, **kwargs)`; an empty `kwargs` is passed as none.
py::object call(py::handle callable, std::initializer_list<PyObject*> prefix, py::handle rest,
                py::handle kwargs);

// `type(obj).__name__ == name`.
bool type_name_is(py::handle obj, const char* name);

}  // namespace nvx::clean
