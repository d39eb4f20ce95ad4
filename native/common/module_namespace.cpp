#include "module_namespace.hpp"

namespace nvx {
namespace {

// The module dictionary of the extension this copy of the common layer is
// linked into. Each extension links its own copy (symbols are hidden), so two
// modules never share it. The dictionary lives as long as the module object,
// i.e. forever.
PyObject* g_module_dict = nullptr;
std::string g_module_name;

}  // namespace

void bind_module_namespace(const py::module_& module) {
    g_module_dict = PyModule_GetDict(module.ptr());  // borrowed; the module is immortal here
    Py_INCREF(g_module_dict);
    g_module_name = py::cast<std::string>(module.attr("__name__"));
}

py::dict module_namespace() {
    return py::reinterpret_borrow<py::dict>(g_module_dict);
}

const std::string& module_name() {
    return g_module_name;
}

py::object global(const char* name) {
    PyObject* found = PyDict_GetItemString(g_module_dict, name);  // borrowed
    if (found == nullptr) {
        PyObject* builtins = PyEval_GetBuiltins();  // borrowed
        found = builtins != nullptr ? PyDict_GetItemString(builtins, name) : nullptr;
    }
    if (found == nullptr) {
        PyErr_Format(PyExc_NameError, "name '%.200s' is not defined", name);
        throw py::error_already_set();
    }
    return py::reinterpret_borrow<py::object>(found);
}

}  // namespace nvx
