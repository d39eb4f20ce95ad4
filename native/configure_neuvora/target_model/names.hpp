// The interned names the target model reads and writes: the keys and values of
// its entries and records, and the attributes of torch modules it looks up.
#pragma once

#include <pybind11/pybind11.h>

namespace nvx::target {

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

}  // namespace nvx::target
