#include "torch_access.hpp"

#include "common/glue.hpp"
#include "pyutil.hpp"

namespace nvx::target {
namespace {

// `getattr(obj, name, None)` without raising for anything the lookup might throw.
py::object attribute_or_null(const py::object& obj, const char* name) {
    PyObject* value = PyObject_GetAttrString(obj.ptr(), name);
    if (value == nullptr) {
        PyErr_Clear();
        return py::object();
    }
    return py::reinterpret_steal<py::object>(value);
}

}  // namespace

TorchAccess::TorchAccess() {
    py::object torch = global("torch");
    if (torch.is_none()) {
        return;
    }
    py::object nn = attribute_or_null(torch, "nn");
    py::object module_type = nn ? attribute_or_null(nn, "Module") : py::object();
    py::object tensor_type = attribute_or_null(torch, "Tensor");
    if (!module_type || !tensor_type || !PyType_Check(module_type.ptr()) ||
        !PyType_Check(tensor_type.ptr())) {
        return;
    }
    auto* module_cls = reinterpret_cast<PyTypeObject*>(module_type.ptr());
    auto* tensor_cls = reinterpret_cast<PyTypeObject*>(tensor_type.ptr());
    const Names& n = names();
    named_modules_ = _PyType_Lookup(module_cls, n.named_modules);
    named_parameters_ = _PyType_Lookup(module_cls, n.named_parameters);
    named_members_ = _PyType_Lookup(module_cls, n.named_members);
    object_getattribute_ = _PyType_Lookup(&PyBaseObject_Type, n.getattribute);
    tensor_hash_ = _PyType_Lookup(tensor_cls, n.hash);
    if (named_modules_ == nullptr || named_parameters_ == nullptr || named_members_ == nullptr ||
        object_getattribute_ == nullptr || tensor_hash_ == nullptr || tensor_hash_ == Py_None) {
        return;
    }
    module_type_ = module_type.ptr();
    keep_alive_[0] = module_type;
    keep_alive_[1] = tensor_type;
    available_ = true;
}

const TorchAccess::TypeInfo& TorchAccess::info_for(PyTypeObject* type) {
    if (type == last_type_) {
        return *last_info_;
    }
    auto found = types_.find(type);
    if (found != types_.end()) {
        last_type_ = type;
        last_info_ = &found->second;
        return found->second;
    }
    TypeInfo info;
    const Names& n = names();
    if (PyType_IsSubtype(type, reinterpret_cast<PyTypeObject*>(module_type_))) {
        info.walkable = _PyType_Lookup(type, n.named_modules) == named_modules_ &&
                        _PyType_Lookup(type, n.getattribute) == object_getattribute_ &&
                        _PyType_Lookup(type, n.modules_attr) == nullptr &&
                        _PyType_Lookup(type, n.parameters_attr) == nullptr;
        info.params_standard = info.walkable &&
                               _PyType_Lookup(type, n.named_parameters) == named_parameters_ &&
                               _PyType_Lookup(type, n.named_members) == named_members_;
    }
    last_type_ = type;
    last_info_ = &types_.emplace(type, info).first->second;
    return *last_info_;
}

bool TorchAccess::view(PyObject* module, View& out) {
    if (!available_) {
        return false;
    }
    const TypeInfo& info = info_for(Py_TYPE(module));
    if (!info.walkable) {
        return false;
    }
    PyObject* dict = PyObject_GenericGetDict(module, nullptr);
    if (dict == nullptr) {
        PyErr_Clear();
        return false;
    }
    py::object holder = py::reinterpret_steal<py::object>(dict);
    if (!PyDict_CheckExact(dict)) {
        return false;
    }
    const Names& n = names();
    // An instance attribute of the same name would shadow the method.
    if (PyDict_GetItemWithError(dict, n.named_modules) != nullptr) {
        return false;
    }
    PyObject* children = PyDict_GetItemWithError(dict, n.modules_attr);
    PyObject* parameters = PyDict_GetItemWithError(dict, n.parameters_attr);
    if (PyErr_Occurred()) {
        PyErr_Clear();
        return false;
    }
    if (children == nullptr || parameters == nullptr || !PyDict_CheckExact(children) ||
        !PyDict_CheckExact(parameters)) {
        return false;
    }
    out.children = children;
    out.parameters = parameters;
    out.own_walk_standard = info.params_standard &&
                            PyDict_GetItemWithError(dict, n.named_parameters) == nullptr &&
                            PyDict_GetItemWithError(dict, n.named_members) == nullptr;
    if (PyErr_Occurred()) {
        PyErr_Clear();
        out.own_walk_standard = false;
    }
    return true;
}

PyObject* TorchAccess::own_parameters(PyObject* module) {
    if (!available_ || !info_for(Py_TYPE(module)).params_standard) {
        return nullptr;
    }
    PyObject* dict = PyObject_GenericGetDict(module, nullptr);
    if (dict == nullptr) {
        PyErr_Clear();
        return nullptr;
    }
    py::object holder = py::reinterpret_steal<py::object>(dict);
    const Names& n = names();
    if (!PyDict_CheckExact(dict) || PyDict_GetItemWithError(dict, n.named_parameters) != nullptr ||
        PyDict_GetItemWithError(dict, n.named_members) != nullptr) {
        PyErr_Clear();
        return nullptr;
    }
    PyObject* parameters = PyDict_GetItemWithError(dict, n.parameters_attr);
    if (parameters == nullptr || !PyDict_CheckExact(parameters)) {
        PyErr_Clear();
        return nullptr;
    }
    return parameters;
}

bool TorchAccess::hashes_by_identity(PyObject* value) {
    PyTypeObject* type = Py_TYPE(value);
    if (type == last_value_type_) {
        return last_value_standard_;
    }
    auto found = value_types_.find(type);
    bool standard = false;
    if (found != value_types_.end()) {
        standard = found->second;
    } else {
        standard = available_ && _PyType_Lookup(type, names().hash) == tensor_hash_;
        value_types_.emplace(type, standard);
    }
    last_value_type_ = type;
    last_value_standard_ = standard;
    return standard;
}

}  // namespace nvx::target
