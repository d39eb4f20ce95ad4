// Small helpers over the interpreter's C interface shared by the target model:
// owned references, item access with the interpreter's errors, the rule-list
// calls on the configuration object and an integer sum that stays exact.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "common/interp.hpp"

namespace nvx::target {
namespace py = pybind11;

// `container[key]` (KeyError and friends exactly as the interpreter raises them).
py::object get_item(PyObject* container, PyObject* key);

// Interned string constants used as keys and values.
struct Names {
    PyObject* id;
    PyObject* name;
    PyObject* type_name;
    PyObject* module;
    PyObject* depth;
    PyObject* direct_param_count;
    PyObject* tree_param_count;
    PyObject* is_replaced_root;
    PyObject* replaced_root;
    PyObject* in_replaced;
    PyObject* eff;
    PyObject* source;
    PyObject* origin_id;
    PyObject* overridden;
    PyObject* mode;
    PyObject* dendrified;
    PyObject* tracked;
    PyObject* inherited;
    PyObject* id_source;  // "id" as a source value (same object as `id`)
    PyObject* type_source;
    PyObject* dot;
    PyObject* empty;
    PyObject* numel;
    PyObject* recurse;
    PyObject* remove_duplicate;
    PyObject* named_modules;
    PyObject* named_parameters;
    PyObject* named_members;
    PyObject* modules_attr;
    PyObject* parameters_attr;
    PyObject* getattribute;
    PyObject* hash;
    PyObject* dunder_name;
};
const Names& names();

// `a == b`, `a != b` and truth values with the interpreter's rules.
bool py_eq(PyObject* a, PyObject* b);
bool py_ne(PyObject* a, PyObject* b);
bool py_truthy(PyObject* value);

// The rule lists of the configuration object, always read from `GNV.pc` at call time.
enum class RuleList { IdsToDendrify, IdsToTrack, NamesToDendrify, NamesToTrack };
py::object fetch_rule_list(RuleList which);
void store_rule_list(RuleList which, const py::object& values);

// A running `total += value` that stays in machine integers while it can and
// moves to the interpreter's integers (or whatever `+` gives) when it cannot.
class Sum {
public:
    void add(PyObject* value);
    void add(std::int64_t value);
    bool exact_machine() const { return !slow_; }
    std::int64_t machine_value() const { return fast_; }
    py::object value() const;

private:
    void spill();
    std::int64_t fast_ = 0;
    py::object slow_;
};

// An iterator over `method(recurse=recurse)`, where `method` is a module's
// bound `named_parameters`: the (name, parameter) pairs the interpreter yields.
py::object iterate_named_parameters(PyObject* method, bool recurse);

// `torch.<path...>` from the module's `torch` global, following each name in
// turn (interned); null when torch is None or a name is missing.
py::object torch_attribute(std::initializer_list<PyObject*> path);

// `parameter.numel()`.
py::object numel_of(PyObject* parameter);

// UTF-8 view of a str, or nullopt-like empty when it cannot be encoded (lone
// surrogates); the view stays valid while the str lives.
bool utf8_view(PyObject* text, std::string_view& out);

}  // namespace nvx::target
