#include "torch_calls.hpp"

#include "interp.hpp"

namespace nvx {

py::object torch_attribute(const py::handle& torch, std::initializer_list<PyObject*> path) {
    py::object value = py::reinterpret_borrow<py::object>(torch);
    if (value.is_none()) return py::object();
    for (PyObject* name : path) {
        value = attribute_if_present(value, name);
        if (!value) return value;
    }
    return value;
}

py::object iterate_named_parameters(PyObject* method, bool recurse) {
    static PyObject* const recurse_name = intern("recurse");
    py::dict kwargs;
    kwargs[recurse_name] = py::bool_(recurse);
    py::object pairs = steal(PyObject_Call(method, py::tuple().ptr(), kwargs.ptr()));
    return steal(PyObject_GetIter(pairs.ptr()));
}

py::object numel_of(PyObject* parameter) {
    static PyObject* const numel_name = intern("numel");
    PyObject* stack[] = {parameter};
    return steal(PyObject_VectorcallMethod(numel_name, stack, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

}  // namespace nvx
