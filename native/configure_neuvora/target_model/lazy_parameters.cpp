#include "lazy_parameters.hpp"

#include <optional>
#include <string>
#include <vector>

#include "common/interp.hpp"
#include "common/torch_calls.hpp"
#include "configure_neuvora/seams.hpp"
#include "core/model/flat_map.hpp"
#include "names.hpp"
#include "torch_access.hpp"

namespace nvx::target {
namespace {

// torch's marker class of uninitialized parameters and buffers, from the
// module's `torch` global; null when torch has none.
py::object uninitialized_class() {
    static PyObject* const nn_name = intern("nn");
    static PyObject* const parameter_name = intern("parameter");
    static PyObject* const mixin_name = intern("UninitializedTensorMixin");
    py::object mixin =
        torch_attribute(configure::seam(configure::Seam::Torch), {nn_name, parameter_name, mixin_name});
    return mixin && PyType_Check(mixin.ptr()) ? mixin : py::object();
}

struct LazyModule {
    py::object path;
    py::object module;
};

class UninitializedFinder {
public:
    explicit UninitializedFinder(PyObject* marker) : marker_(marker) {}

    bool is_uninitialized(PyObject* value) {
        PyTypeObject* type = Py_TYPE(value);
        if (type != last_type_) {
            const int hit = PyObject_IsSubclass(reinterpret_cast<PyObject*>(type), marker_);
            if (hit < 0) throw py::error_already_set();
            last_type_ = type;
            last_hit_ = hit != 0;
        }
        return last_hit_;
    }

    // Pre-order over `_modules` while every module keeps torch's own
    // bookkeeping; false when one does not (the public walk then decides).
    // Paths are only spelled out for the module found.
    bool walk_directly(const py::object& model, std::optional<LazyModule>& found) {
        TorchAccess torch;
        if (!torch.available()) return false;
        struct Node {
            PyObject* module;  // borrowed: the model holds it while nothing else runs
            int parent;
            PyObject* key;
        };
        std::vector<Node> nodes{Node{model.ptr(), -1, nullptr}};
        std::vector<int> stack{0};
        model::IdentityMap<bool> seen;
        std::vector<int> children;
        while (!stack.empty()) {
            const int index = stack.back();
            stack.pop_back();
            const Node node = nodes[static_cast<std::size_t>(index)];
            TorchAccess::View view;
            if (!torch.view(node.module, view)) return false;
            if (!seen.insert(node.module, true).second) continue;
            Py_ssize_t pos = 0;
            PyObject* key = nullptr;
            PyObject* value = nullptr;
            while (PyDict_Next(view.parameters, &pos, &key, &value)) {
                if (value != Py_None && is_uninitialized(value)) {
                    found = LazyModule{path_of(nodes, index), borrow(node.module)};
                    return true;
                }
            }
            // Children pushed in reverse so the first child is walked first.
            children.clear();
            pos = 0;
            while (PyDict_Next(view.children, &pos, &key, &value)) {
                if (value == Py_None) continue;
                if (!PyUnicode_CheckExact(key)) return false;
                children.push_back(static_cast<int>(nodes.size()));
                nodes.push_back(Node{value, index, key});
            }
            stack.insert(stack.end(), children.rbegin(), children.rend());
        }
        return true;
    }

    // `for path, module in model.named_modules(): for _, p in module.named_parameters(recurse=False)`.
    std::optional<LazyModule> walk_publicly(const py::object& model) {
        const Names& n = names();
        py::object method = attribute_if_present(model.ptr(), n.named_modules);
        if (!method) return std::nullopt;
        py::object iterator = steal(PyObject_GetIter(steal(PyObject_CallNoArgs(method.ptr())).ptr()));
        while (PyObject* item = PyIter_Next(iterator.ptr())) {
            py::object pair = steal(item);
            auto [path, module] = unpack_pair(pair.ptr());
            py::object own = attribute_if_present(module.ptr(), n.named_parameters);
            if (!own) continue;
            py::object each = iterate_named_parameters(own.ptr(), false);
            while (PyObject* named = PyIter_Next(each.ptr())) {
                py::object held = steal(named);
                if (is_uninitialized(unpack_pair(held.ptr()).second.ptr())) return LazyModule{path, module};
            }
            if (PyErr_Occurred()) throw py::error_already_set();
        }
        if (PyErr_Occurred()) throw py::error_already_set();
        return std::nullopt;
    }

private:
    template <typename Nodes>
    static py::object path_of(const Nodes& nodes, int index) {
        std::vector<PyObject*> keys;
        for (int at = index; nodes[static_cast<std::size_t>(at)].parent >= 0;
             at = nodes[static_cast<std::size_t>(at)].parent) {
            keys.push_back(nodes[static_cast<std::size_t>(at)].key);
        }
        py::object path = borrow(names().empty);
        for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
            path = PyUnicode_GET_LENGTH(path.ptr()) == 0
                       ? borrow(*key)
                       : steal(PyUnicode_FromFormat("%U.%U", path.ptr(), *key));
        }
        return path;
    }

    PyObject* marker_;
    PyTypeObject* last_type_ = nullptr;
    bool last_hit_ = false;
};

std::optional<LazyModule> first_lazy_module(const py::object& model) {
    py::object marker = uninitialized_class();
    if (!marker) return std::nullopt;
    UninitializedFinder finder(marker.ptr());
    std::optional<LazyModule> found;
    if (finder.walk_directly(model, found)) return found;
    return finder.walk_publicly(model);
}

std::string lazy_module_message(const LazyModule& lazy) {
    const std::string type_name = py::cast<std::string>(to_str(steal(
        PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(lazy.module.ptr())), names().dunder_name))));
    const std::string path = py::cast<std::string>(to_str(lazy.path));
    const std::string which = path.empty() ? "The model itself (" + type_name + ")"
                                           : "The module ." + path + " (" + type_name + ")";
    return which +
           " has uninitialized (lazy) parameters, so its parameters cannot be counted. Run one forward pass "
           "through the model, or materialise the module, before choosing dendrification targets.";
}

// True when `model.children()` yields something.
bool has_children(const py::object& model) {
    static PyObject* const children_name = intern("children");
    py::object method = attribute_if_present(model.ptr(), children_name);
    if (!method) return false;
    py::object iterator = steal(PyObject_GetIter(steal(PyObject_CallNoArgs(method.ptr())).ptr()));
    PyObject* first = PyIter_Next(iterator.ptr());
    if (first == nullptr && PyErr_Occurred()) throw py::error_already_set();
    Py_XDECREF(first);
    return first != nullptr;
}

}  // namespace

void require_initialized_parameters(const py::object& model) {
    std::optional<LazyModule> lazy = first_lazy_module(model);
    // A lazy model without submodules has no rows to configure: the session's
    // own path for empty models takes it.
    if (lazy && PyUnicode_GET_LENGTH(lazy->path.ptr()) == 0 && !has_children(model)) return;
    if (lazy) raise(PyExc_ValueError, lazy_module_message(*lazy));
}

void explain_uninitialized_parameters(const py::object& model, py::error_already_set& cause) {
    std::optional<LazyModule> lazy;
    try {
        lazy = first_lazy_module(model);
    } catch (py::error_already_set& error) {
        if (!error.matches(PyExc_Exception)) throw;
        return;  // the model cannot be walked either: the original error says more
    }
    if (!lazy) return;
    py::raise_from(cause, PyExc_ValueError, lazy_module_message(*lazy).c_str());
    throw py::error_already_set();
}

}  // namespace nvx::target
