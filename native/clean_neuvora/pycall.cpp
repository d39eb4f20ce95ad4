#include "pycall.hpp"

namespace nvx::clean {
namespace {

Names g_names{};

PyObject* intern(const char* text) {
    PyObject* name = PyUnicode_InternFromString(text);
    if (name == nullptr) {
        throw py::error_already_set();
    }
    return name;  // kept for the life of the process
}

}  // namespace

const Names& names() {
    return g_names;
}

void init_names() {
    Names& n = g_names;
    n.layer_array = intern("layer_array");
    n.processor_array = intern("processor_array");
    n.skip_weights = intern("skip_weights");
    n.node_index = intern("node_index");
    n.num_cycles = intern("num_cycles");
    n.view_tuple = intern("view_tuple");
    n.process_and_forward = intern("process_and_forward");
    n.process_and_pre = intern("process_and_pre");
    n.forward = intern("forward");
    n.pre = intern("pre");
    n.post = intern("post");
    n.pc = intern("pc");
    n.get_nvx_forward_function = intern("get_nvx_forward_function");
    n.tolist = intern("tolist");
    n.view = intern("view");
    n.to = intern("to");
    n.device = intern("device");
    n.start = intern("start");
    n.join = intern("join");
    n.clone = intern("clone");
    n.detach = intern("detach");
    n.register_buffer = intern("register_buffer");
    n.thread_kwnames = PyTuple_Pack(3, intern("target"), intern("args"), intern("kwargs"));
    if (n.thread_kwnames == nullptr) {
        throw py::error_already_set();
    }
}

py::object get_attr_if_present(py::handle obj, PyObject* name) {
    PyObject* value = PyObject_GetAttr(obj.ptr(), name);
    if (value == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
            throw py::error_already_set();
        }
        PyErr_Clear();
        return py::object();
    }
    return py::reinterpret_steal<py::object>(value);
}

py::object get_index(py::handle obj, Py_ssize_t index) {
    if (PyList_CheckExact(obj.ptr())) {
        const Py_ssize_t size = PyList_GET_SIZE(obj.ptr());
        const Py_ssize_t at = index < 0 ? index + size : index;
        if (at >= 0 && at < size) {
            return py::reinterpret_borrow<py::object>(PyList_GET_ITEM(obj.ptr(), at));
        }
    }
    py::object key = steal_or_throw(PyLong_FromSsize_t(index));
    return steal_or_throw(PyObject_GetItem(obj.ptr(), key.ptr()));
}

void set_index(py::handle obj, Py_ssize_t index, py::handle value) {
    py::object key = steal_or_throw(PyLong_FromSsize_t(index));
    if (PyObject_SetItem(obj.ptr(), key.ptr(), value.ptr()) < 0) {
        throw py::error_already_set();
    }
}

py::object call(py::handle callable, std::initializer_list<PyObject*> prefix, py::handle rest,
                py::handle kwargs) {
    const auto lead = static_cast<Py_ssize_t>(prefix.size());
    const Py_ssize_t more = rest ? PyTuple_GET_SIZE(rest.ptr()) : 0;
    py::object args = steal_or_throw(PyTuple_New(lead + more));
    Py_ssize_t at = 0;
    for (PyObject* item : prefix) {
        PyTuple_SET_ITEM(args.ptr(), at++, Py_NewRef(item));
    }
    for (Py_ssize_t i = 0; i < more; ++i) {
        PyTuple_SET_ITEM(args.ptr(), at++, Py_NewRef(PyTuple_GET_ITEM(rest.ptr(), i)));
    }
    PyObject* options = nullptr;
    if (kwargs && !(PyDict_Check(kwargs.ptr()) && PyDict_GET_SIZE(kwargs.ptr()) == 0)) {
        options = kwargs.ptr();
    }
    return steal_or_throw(PyObject_Call(callable.ptr(), args.ptr(), options));
}

bool type_name_is(py::handle obj, const char* name) {
    py::object type_name =
        steal_or_throw(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj.ptr())), "__name__"));
    if (!PyUnicode_Check(type_name.ptr())) {
        return false;
    }
    return PyUnicode_CompareWithASCIIString(type_name.ptr(), name) == 0;
}

}  // namespace nvx::clean
