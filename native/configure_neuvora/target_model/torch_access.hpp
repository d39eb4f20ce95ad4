// Direct reads of torch's module bookkeeping (`_modules`, `_parameters`) where
// they give exactly what the public traversal calls would give.
//
// `named_modules()` and `named_parameters()` of `torch.nn.Module` are generators
// over those two dictionaries; walking them from C++ gives the same modules,
// paths and parameters at a fraction of the cost. The shortcut is only taken for
// objects whose class (and instance) leaves those methods and attributes as
// torch defines them; everything else goes through the public calls.
//
// One instance lives for one call: nothing is remembered between calls, so a
// class patched in between is seen as it is now.
#pragma once

#include <pybind11/pybind11.h>

#include <unordered_map>

namespace nvx::target {
namespace py = pybind11;

class TorchAccess {
public:
    // Reads `torch.nn.Module` and `torch.Tensor` from the module's `torch` global.
    TorchAccess();

    // False when torch is missing or does not look like the torch this was written for.
    bool available() const { return available_; }

    // What a walk over `module` may read directly.
    struct View {
        PyObject* children = nullptr;    // `_modules` (borrowed)
        PyObject* parameters = nullptr;  // `_parameters` (borrowed)
        // `module.named_parameters(...)` is torch's own walk over `_parameters`
        // (and the descendants' `_parameters` when recursing).
        bool own_walk_standard = false;
    };

    // Fills `out` and returns true when `named_modules` on `module` walks exactly its
    // `_modules` dict and a parent's recursive parameter walk reads exactly its
    // `_parameters` dict (both plain dicts in the instance dictionary, no override of
    // the methods or of attribute access); false otherwise.
    bool view(PyObject* module, View& out);

    // The `_parameters` dict when `module.named_parameters(recurse=False)` is
    // torch's own walk over it; nullptr otherwise. Borrowed.
    PyObject* own_parameters(PyObject* module);

    // True when `value` hashes like a tensor (by identity), so identity sets give
    // the same de-duplication as the interpreter's set of parameters.
    bool hashes_by_identity(PyObject* value);

private:
    struct TypeInfo {
        bool walkable = false;         // named_modules / attribute access are torch's own
        bool params_standard = false;  // named_parameters / _named_members too
    };
    const TypeInfo& info_for(PyTypeObject* type);

    bool available_ = false;
    PyObject* module_type_ = nullptr;  // torch.nn.Module (borrowed; kept alive by torch)
    PyObject* named_modules_ = nullptr;
    PyObject* named_parameters_ = nullptr;
    PyObject* named_members_ = nullptr;
    PyObject* object_getattribute_ = nullptr;
    PyObject* tensor_hash_ = nullptr;
    py::object keep_alive_[2];
    std::unordered_map<PyTypeObject*, TypeInfo> types_;
    std::unordered_map<PyTypeObject*, bool> value_types_;
    // Most models repeat the same few classes back to back.
    PyTypeObject* last_type_ = nullptr;
    const TypeInfo* last_info_ = nullptr;
    PyTypeObject* last_value_type_ = nullptr;
    bool last_value_standard_ = false;
};

}  // namespace nvx::target
