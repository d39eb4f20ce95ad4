#include "rule_editing.hpp"

#include <cstdint>
#include <vector>

#include "module_entries.hpp"
#include "pyutil.hpp"

namespace nvx::target {
namespace {

// `[v for v in values if v != unwanted]`
py::list without(const py::object& values, PyObject* unwanted) {
    py::list result;
    py::object iterator = steal(PyObject_GetIter(values.ptr()));
    while (PyObject* item = PyIter_Next(iterator.ptr())) {
        py::object value = steal(item);
        if (py_ne(value.ptr(), unwanted) && PyList_Append(result.ptr(), value.ptr()) < 0) {
            throw py::error_already_set();
        }
    }
    if (PyErr_Occurred()) {
        throw py::error_already_set();
    }
    return result;
}

// Sets or toggles off `key` on one pair of rule lists.
void set_mode_on(RuleList dendrify_list, RuleList track_list, PyObject* key, PyObject* mode) {
    py::list dendrify = dedupe_list(fetch_rule_list(dendrify_list));
    py::list track = dedupe_list(fetch_rule_list(track_list));
    const Names& n = names();
    auto toggle = [key](py::list& chosen, py::list& other) {
        if (py_contains(chosen.ptr(), key)) {
            chosen = without(chosen, key);  // pressing the same mode again clears it
            return;
        }
        if (PyList_Append(chosen.ptr(), key) < 0) {
            throw py::error_already_set();
        }
        other = without(other, key);
    };
    if (py_eq(mode, n.dendrified)) {
        toggle(dendrify, track);
    } else if (py_eq(mode, n.tracked)) {
        toggle(track, dendrify);
    }
    store_rule_list(dendrify_list, dendrify);
    store_rule_list(track_list, track);
}

bool in_rule_list(RuleList which, PyObject* value) {
    return py_contains(fetch_rule_list(which).ptr(), value);
}

}  // namespace

void set_module_id_mode(const py::object& module_id, const py::object& mode) {
    set_mode_on(RuleList::IdsToDendrify, RuleList::IdsToTrack, module_id.ptr(), mode.ptr());
}

void set_module_name_mode(const py::object& module_type_name, const py::object& mode) {
    set_mode_on(RuleList::NamesToDendrify, RuleList::NamesToTrack, module_type_name.ptr(), mode.ptr());
}

py::object clear_module_mode(const py::object& entry) {
    const Names& n = names();
    py::object id = get_item(entry.ptr(), n.id);
    py::object type_name = get_item(entry.ptr(), n.type_name);
    py::list ids_dendrify = without(fetch_rule_list(RuleList::IdsToDendrify), id.ptr());
    py::list ids_track = without(fetch_rule_list(RuleList::IdsToTrack), id.ptr());
    if (in_rule_list(RuleList::IdsToDendrify, id.ptr()) || in_rule_list(RuleList::IdsToTrack, id.ptr())) {
        store_rule_list(RuleList::IdsToDendrify, ids_dendrify);
        store_rule_list(RuleList::IdsToTrack, ids_track);
        return steal(PyNumber_Add(py::str("cleared ").ptr(), id.ptr()));
    }
    if (in_rule_list(RuleList::NamesToDendrify, type_name.ptr()) ||
        in_rule_list(RuleList::NamesToTrack, type_name.ptr())) {
        store_rule_list(RuleList::NamesToDendrify,
                        without(fetch_rule_list(RuleList::NamesToDendrify), type_name.ptr()));
        store_rule_list(RuleList::NamesToTrack,
                        without(fetch_rule_list(RuleList::NamesToTrack), type_name.ptr()));
        py::object head = steal(PyNumber_Add(py::str("cleared the ").ptr(), type_name.ptr()));
        return steal(PyNumber_Add(head.ptr(), py::str(" type rule").ptr()));
    }
    return py::str("nothing to clear on this module");
}

py::list type_rule_entries(const py::object& entries) {
    const Names& n = names();
    // Live count per class name; the dict gives the interpreter's key equality.
    py::dict slots;
    std::vector<std::int64_t> counts;
    py::object iterator = steal(PyObject_GetIter(entries.ptr()));
    while (PyObject* item = PyIter_Next(iterator.ptr())) {
        py::object entry = steal(item);
        if (py_truthy(get_item(entry.ptr(), n.in_replaced).ptr())) {
            continue;
        }
        py::object type_name = get_item(entry.ptr(), n.type_name);
        PyObject* slot = PyDict_GetItemWithError(slots.ptr(), type_name.ptr());
        if (slot == nullptr) {
            if (PyErr_Occurred()) throw py::error_already_set();
            py::object fresh = steal(PyLong_FromSize_t(counts.size()));
            if (PyDict_SetItem(slots.ptr(), type_name.ptr(), fresh.ptr()) < 0) throw py::error_already_set();
            counts.push_back(1);
        } else {
            ++counts[PyLong_AsSize_t(slot)];
        }
    }
    if (PyErr_Occurred()) {
        throw py::error_already_set();
    }

    py::list result;
    auto append_group = [&](RuleList which, PyObject* mode) {
        py::object ordered = steal(PySequence_List(fetch_rule_list(which).ptr()));
        if (PyList_Sort(ordered.ptr()) < 0) {
            throw py::error_already_set();
        }
        for (py::handle name : ordered) {
            PyObject* slot = PyDict_GetItemWithError(slots.ptr(), name.ptr());
            if (slot == nullptr && PyErr_Occurred()) {
                throw py::error_already_set();
            }
            const std::int64_t count = slot != nullptr ? counts[PyLong_AsSize_t(slot)] : 0;
            py::object live = steal(PyLong_FromLongLong(count));
            py::object row = steal(PyTuple_Pack(3, name.ptr(), mode, live.ptr()));
            if (PyList_Append(result.ptr(), row.ptr()) < 0) {
                throw py::error_already_set();
            }
        }
    };
    append_group(RuleList::NamesToDendrify, n.dendrified);
    append_group(RuleList::NamesToTrack, n.tracked);
    return result;
}

py::list unset_module_entries(const py::object& entries, const py::object& resolved) {
    const Names& n = names();
    py::object zero = steal(PyLong_FromLong(0));
    py::list result;
    py::object iterator = steal(PyObject_GetIter(entries.ptr()));
    while (PyObject* item = PyIter_Next(iterator.ptr())) {
        py::object entry = steal(item);
        if (py_truthy(get_item(entry.ptr(), n.in_replaced).ptr()) ||
            py_truthy(get_item(entry.ptr(), n.is_replaced_root).ptr())) {
            continue;
        }
        py::object own = get_item(entry.ptr(), n.direct_param_count);
        const int positive = PyObject_RichCompareBool(own.ptr(), zero.ptr(), Py_GT);
        if (positive < 0) {
            throw py::error_already_set();
        }
        if (positive == 0) {
            continue;
        }
        py::object record = get_item(resolved.ptr(), get_item(entry.ptr(), n.id).ptr());
        if (get_item(record.ptr(), n.eff).ptr() == Py_None && PyList_Append(result.ptr(), entry.ptr()) < 0) {
            throw py::error_already_set();
        }
    }
    if (PyErr_Occurred()) {
        throw py::error_already_set();
    }
    return result;
}

}  // namespace nvx::target
