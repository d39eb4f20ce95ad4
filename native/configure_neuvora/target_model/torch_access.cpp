#include "torch_access.hpp"

#include "common/interp.hpp"
#include "configure_neuvora/seams.hpp"
#include "names.hpp"

namespace nvx::target {

TorchAccess::TorchAccess() {
    py::object torch = configure::seam(configure::Seam::Torch);
    if (torch.is_none()) {
        return;
    }
    static PyObject* const nn_name = intern("nn");
    static PyObject* const module_name = intern("Module");
    static PyObject* const tensor_name = intern("Tensor");
    py::object nn = attribute_if_present(torch.ptr(), nn_name);
    py::object module_type = nn ? attribute_if_present(nn.ptr(), module_name) : py::object();
    py::object tensor_type = attribute_if_present(torch.ptr(), tensor_name);
    if (!module_type || !tensor_type || !PyType_Check(module_type.ptr()) ||
        !PyType_Check(tensor_type.ptr())) {
        return;
    }
    auto* module_cls = reinterpret_cast<PyTypeObject*>(module_type.ptr());
    auto* tensor_cls = reinterpret_cast<PyTypeObject*>(tensor_type.ptr());
    const Names& n = names();
    PyObject* methods[3];
    type_lookup(module_cls, {n.named_modules, n.named_parameters, n.named_members}, methods);
    named_modules_ = methods[0];
    named_parameters_ = methods[1];
    named_members_ = methods[2];
    object_getattribute_ = type_lookup(&PyBaseObject_Type, n.getattribute);
    tensor_hash_ = type_lookup(tensor_cls, n.hash);
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
        PyObject* found[6];
        type_lookup(type,
                    {n.named_modules, n.getattribute, n.modules_attr, n.parameters_attr, n.named_parameters,
                     n.named_members},
                    found);
        info.walkable = found[0] == named_modules_ && found[1] == object_getattribute_ &&
                        found[2] == nullptr && found[3] == nullptr;
        info.params_standard = info.walkable && found[4] == named_parameters_ && found[5] == named_members_;
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
        standard = available_ && type_lookup(type, names().hash) == tensor_hash_;
        value_types_.emplace(type, standard);
    }
    last_value_type_ = type;
    last_value_standard_ = standard;
    return standard;
}

}  // namespace nvx::target
