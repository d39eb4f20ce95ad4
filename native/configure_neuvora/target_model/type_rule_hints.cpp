// Type rules match the exact class name, so a rule on a class misses its
// subclasses (attention output projections, weight-normed convolutions): the
// engine finds the classes of the model a rule nearly matches.
#include <map>
#include <utility>

#include "common/interp.hpp"
#include "common/torch_calls.hpp"
#include "entry_table.hpp"
#include "names.hpp"

namespace nvx::target {
namespace {

// torch.nn.Module from the module's `torch` global, or null: every module
// class derives from it, so it tells nothing about a rule.
py::object torch_module_class() {
    static PyObject* const nn_name = intern("nn");
    static PyObject* const module_name = intern("Module");
    return torch_attribute({nn_name, module_name});
}

// Names of the base classes of `type` that say something about it: not the
// class itself, not `object`, not torch.nn.Module.
std::vector<py::object> base_names(PyTypeObject* type, PyObject* module_class) {
    static PyObject* const mro_name = intern("__mro__");
    std::vector<py::object> out;
    const py::object held = attribute_if_present(reinterpret_cast<PyObject*>(type), mro_name);
    PyObject* mro = held.ptr();
    if (mro == nullptr || !PyTuple_Check(mro)) return out;
    for (Py_ssize_t k = 1; k < PyTuple_GET_SIZE(mro); ++k) {
        PyObject* base = PyTuple_GET_ITEM(mro, k);
        if (base == reinterpret_cast<PyObject*>(&PyBaseObject_Type) || base == module_class) continue;
        py::object name = attribute_if_present(base, names().dunder_name);
        if (name && PyUnicode_Check(name.ptr())) out.push_back(std::move(name));
    }
    return out;
}

}  // namespace

void EntryTable::index_classes() const {
    if (!loaded(Field::TypeName)) load(Field::TypeName);
    if (!loaded(Field::Module)) load(Field::Module);
    const py::object module_class = torch_module_class();
    std::map<std::pair<int, PyTypeObject*>, std::size_t> known;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const py::object& module = rows_[i][Field::Module];
        if (hot_[i].type_slot < 0 || !module) continue;
        PyTypeObject* type = Py_TYPE(module.ptr());
        auto [at, fresh] = known.emplace(std::make_pair(hot_[i].type_slot, type), class_uses_.size());
        if (fresh)
            class_uses_.push_back(ClassUse{hot_[i].type_slot, 0, base_names(type, module_class.ptr())});
        ++class_uses_[at->second].count;
    }
    classes_indexed_ = true;
}

TypeRuleHints EntryTable::type_rule_hints(const py::handle& rule_name) const {
    TypeRuleHints hints;
    PyObject* rule = rule_name.ptr();
    if (!PyUnicode_CheckExact(rule)) return hints;
    if (!loaded(Field::TypeName)) load(Field::TypeName);
    if (!classes_indexed_) index_classes();

    hints.matches_nothing = true;
    for (const py::object& type_name : type_names_) {
        if (py_eq(type_name.ptr(), rule)) hints.matches_nothing = false;
    }
    std::map<int, std::size_t> listed;  // class name slot -> position in near_misses
    for (const ClassUse& use : class_uses_) {
        PyObject* own = type_names_[static_cast<std::size_t>(use.type_slot)].ptr();
        if (py_eq(own, rule)) continue;
        bool derived = false;
        for (const py::object& base : use.base_names) derived = derived || py_eq(base.ptr(), rule);
        if (!derived) continue;
        auto [at, fresh] = listed.emplace(use.type_slot, hints.near_misses.size());
        if (fresh) hints.near_misses.push_back(NearMiss{borrow(own), 0});
        hints.near_misses[at->second].count += use.count;
    }
    return hints;
}

}  // namespace nvx::target
