#include "pycall.hpp"

#include "common/interp.hpp"

namespace nvx::clean {
namespace {

Names g_names{};

struct ModuleLookup {
    PyObject* module_getattr = nullptr;       // torch.nn.Module.__getattr__
    PyObject* object_getattribute = nullptr;  // object.__getattribute__
    PyObject* module_list = nullptr;
    PyObject* parameter_list = nullptr;
    PyObject* getattr_name = nullptr;
    PyObject* getattribute_name = nullptr;
    PyObject* size_name = nullptr;  // "_size", ParameterList's length
};
ModuleLookup g_lookup{};

// The instance dict of `obj`, or a null object.
py::object instance_dict(PyObject* obj) {
    return steal_unless_attribute_error(PyObject_GenericGetDict(obj, nullptr));
}

// The member from the module's registries, or null (no error set).
PyObject* registered_member(PyObject* dict, PyObject* name) {
    const Names& n = g_names;
    for (PyObject* registry_name : {n.parameters_, n.buffers_, n.modules_}) {
        PyObject* registry = PyDict_GetItemWithError(dict, registry_name);
        if (registry == nullptr) {
            if (PyErr_Occurred() != nullptr) {
                throw py::error_already_set();
            }
            continue;
        }
        if (!PyDict_Check(registry)) {
            return nullptr;
        }
        PyObject* value = PyDict_GetItemWithError(registry, name);
        if (value != nullptr) {
            return value;
        }
        if (PyErr_Occurred() != nullptr) {
            throw py::error_already_set();
        }
    }
    return nullptr;
}

enum class Found { value, absent, general };

// The fast resolution: a value, no such member, or "ask the interpreter".
Found fast_member(PyObject* obj, PyObject* name, PyObject** out) {
    const ModuleLookup& l = g_lookup;
    if (l.module_getattr == nullptr) {
        return Found::general;
    }
    // One walk over the class's MRO answers all three questions.
    PyObject* found[3];
    nvx::type_lookup(Py_TYPE(obj), {l.getattr_name, l.getattribute_name, name}, found);
    if (found[0] != l.module_getattr || found[1] != l.object_getattribute) {
        return Found::general;  // attribute access of its own
    }
    if (found[2] != nullptr) {
        return Found::general;  // descriptors and class attributes: the interpreter's rules
    }
    py::object held = instance_dict(obj);
    PyObject* dict = held.ptr();
    if (dict == nullptr || !PyDict_Check(dict)) {
        return Found::general;
    }
    PyObject* value = PyDict_GetItemWithError(dict, name);
    if (value == nullptr && PyErr_Occurred() != nullptr) {
        throw py::error_already_set();
    }
    if (value == nullptr) {
        value = registered_member(dict, name);
    }
    if (value == nullptr) {
        return Found::absent;
    }
    *out = value;
    return Found::value;
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
    n.parameters_ = intern("_parameters");
    n.buffers_ = intern("_buffers");
    n.modules_ = intern("_modules");
}

void init_module_lookup(py::handle module_class, py::handle module_list_class,
                        py::handle parameter_list_class) {
    ModuleLookup& l = g_lookup;
    l.getattr_name = intern("__getattr__");
    l.getattribute_name = intern("__getattribute__");
    l.size_name = intern("_size");
    l.module_getattr = type_lookup(reinterpret_cast<PyTypeObject*>(module_class.ptr()), l.getattr_name);
    l.object_getattribute = type_lookup(&PyBaseObject_Type, l.getattribute_name);
    Py_XINCREF(l.module_getattr);
    Py_XINCREF(l.object_getattribute);
    l.module_list = Py_NewRef(module_list_class.ptr());
    l.parameter_list = Py_NewRef(parameter_list_class.ptr());
}

py::object module_attr(py::handle module, PyObject* name) {
    PyObject* value = nullptr;
    if (fast_member(module.ptr(), name, &value) == Found::value) {
        return py::reinterpret_borrow<py::object>(value);
    }
    return get_attr(module, name);
}

py::object module_attr_if_present(py::handle module, PyObject* name) {
    PyObject* value = nullptr;
    switch (fast_member(module.ptr(), name, &value)) {
        case Found::value:
            return py::reinterpret_borrow<py::object>(value);
        case Found::absent:
            return py::object();
        case Found::general:
            break;
    }
    return attribute_if_present(module, name);
}

namespace {

// The `_modules` dict of an exact ModuleList (borrowed), or null.
PyObject* module_list_registry(PyObject* container) {
    PyObject* registry = nullptr;
    if (fast_member(container, g_names.modules_, &registry) == Found::value && PyDict_Check(registry)) {
        return registry;
    }
    return nullptr;
}

}  // namespace

py::object container_item(py::handle container, Py_ssize_t index) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(container.ptr()));
    if (type == g_lookup.module_list || type == g_lookup.parameter_list) {
        const Py_ssize_t size = container_len(container);
        if (index >= -size && index < size) {
            // Both find the member under the decimal text of the absolute index:
            // ModuleList in its submodules, ParameterList as its own attribute.
            py::object key = steal(PyUnicode_FromFormat("%zd", index < 0 ? index + size : index));
            PyObject* value = nullptr;
            if (type == g_lookup.module_list) {
                PyObject* registry = module_list_registry(container.ptr());
                value = registry != nullptr ? PyDict_GetItemWithError(registry, key.ptr()) : nullptr;
                if (value != nullptr) {
                    return py::reinterpret_borrow<py::object>(value);
                }
                if (PyErr_Occurred() != nullptr) {
                    throw py::error_already_set();
                }
            } else {
                return module_attr(container, key.ptr());
            }
        }
    }
    return get_index(container, index);
}

Py_ssize_t container_len(py::handle container) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(container.ptr()));
    if (type == g_lookup.module_list) {
        if (PyObject* registry = module_list_registry(container.ptr())) {
            return PyDict_GET_SIZE(registry);
        }
    } else if (type == g_lookup.parameter_list) {
        PyObject* size = nullptr;
        if (fast_member(container.ptr(), g_lookup.size_name, &size) == Found::value &&
            PyLong_CheckExact(size)) {
            const Py_ssize_t value = PyLong_AsSsize_t(size);
            if (value >= 0) {
                return value;
            }
            PyErr_Clear();
        }
    }
    const Py_ssize_t size = PyObject_Size(container.ptr());
    if (size < 0) {
        throw py::error_already_set();
    }
    return size;
}

py::object get_index(py::handle obj, Py_ssize_t index) {
    if (PyList_CheckExact(obj.ptr())) {
        const Py_ssize_t size = PyList_GET_SIZE(obj.ptr());
        const Py_ssize_t at = index < 0 ? index + size : index;
        if (at >= 0 && at < size) {
            return py::reinterpret_borrow<py::object>(PyList_GET_ITEM(obj.ptr(), at));
        }
    }
    py::object key = steal(PyLong_FromSsize_t(index));
    return steal(PyObject_GetItem(obj.ptr(), key.ptr()));
}

void set_index(py::handle obj, Py_ssize_t index, py::handle value) {
    py::object key = steal(PyLong_FromSsize_t(index));
    if (PyObject_SetItem(obj.ptr(), key.ptr(), value.ptr()) < 0) {
        throw py::error_already_set();
    }
}

py::object call(py::handle callable, std::initializer_list<PyObject*> prefix, py::handle rest,
                py::handle kwargs) {
    const auto lead = static_cast<Py_ssize_t>(prefix.size());
    const Py_ssize_t more = rest ? PyTuple_GET_SIZE(rest.ptr()) : 0;
    py::object args = steal(PyTuple_New(lead + more));
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
    return steal(PyObject_Call(callable.ptr(), args.ptr(), options));
}

bool type_name_is(py::handle obj, const char* name) {
    py::object type_name =
        steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj.ptr())), "__name__"));
    if (!PyUnicode_Check(type_name.ptr())) {
        return false;
    }
    return PyUnicode_CompareWithASCIIString(type_name.ptr(), name) == 0;
}

}  // namespace nvx::clean
