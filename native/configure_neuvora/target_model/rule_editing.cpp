#include "rule_editing.hpp"

#include <memory>

#include "common/interp.hpp"
#include "entry_table.hpp"
#include "module_entries.hpp"
#include "names.hpp"
#include "rule_lists.hpp"

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
        if (contains(chosen.ptr(), key)) {
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
    return contains(fetch_rule_list(which).ptr(), value);
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
    std::unique_ptr<EntryTable> scratch;
    return EntryTable::for_entries(entries, scratch).type_rules();
}

py::list unset_module_entries(const py::object& entries, const py::object& resolved) {
    std::unique_ptr<EntryTable> scratch;
    return unset_module_entries(EntryTable::for_entries(entries, scratch), resolved);
}

py::list unset_module_entries(const EntryTable& table, const py::object& resolved) {
    const Names& n = names();
    py::list result;
    table.unset(
        [&](std::size_t i) {
            py::object record = get_item(resolved.ptr(), table.field(i, Field::Id).ptr());
            return get_item(record.ptr(), n.eff).ptr() == Py_None;
        },
        [&](std::size_t i) {
            if (PyList_Append(result.ptr(), table.row(i).entry.ptr()) < 0) throw py::error_already_set();
        });
    return result;
}

}  // namespace nvx::target
