#include "mode_rules.hpp"

#include <memory>
#include <utility>

#include "common/interp.hpp"
#include "entry_table.hpp"
#include "module_entries.hpp"
#include "names.hpp"
#include "rule_lists.hpp"

namespace nvx::target {
namespace {

// The values of `first` without the values that are also in `second` (order kept).
py::list without_overlap(const py::list& keep_from, const py::list& other) {
    py::object other_set = steal(PySet_New(other.ptr()));
    py::list result;
    for (py::handle value : keep_from) {
        const int shared = PySet_Contains(other_set.ptr(), value.ptr());
        if (shared < 0) {
            throw py::error_already_set();
        }
        if (shared == 0 && PyList_Append(result.ptr(), value.ptr()) < 0) {
            throw py::error_already_set();
        }
    }
    return result;
}

}  // namespace

RuleMembership::RuleMembership(py::object rules) : rules_(std::move(rules)) {
    PyObject* container = rules_.ptr();
    if (!PyList_CheckExact(container) && !PyTuple_CheckExact(container)) {
        return;  // asked through its own `in`
    }
    text_values_ = steal(PySet_New(nullptr));
    const Py_ssize_t size = PySequence_Fast_GET_SIZE(container);
    for (Py_ssize_t i = 0; i < size; ++i) {
        PyObject* value = PySequence_Fast_GET_ITEM(container, i);
        if (PyUnicode_CheckExact(value)) {
            if (PySet_Add(text_values_.ptr(), value) < 0) {
                throw py::error_already_set();
            }
        } else {
            other_values_.push_back(borrow(value));
        }
    }
    indexed_ = true;
}

bool RuleMembership::contains(PyObject* value) const {
    if (!indexed_ || !PyUnicode_CheckExact(value)) {
        return nvx::contains(rules_.ptr(), value);
    }
    const int found = PySet_Contains(text_values_.ptr(), value);
    if (found < 0) {
        throw py::error_already_set();
    }
    if (found != 0) {
        return true;
    }
    for (const py::object& other : other_values_) {
        const int equal = PyObject_RichCompareBool(other.ptr(), value, Py_EQ);
        if (equal < 0) {
            throw py::error_already_set();
        }
        if (equal != 0) {
            return true;
        }
    }
    return false;
}

bool RuleMembership::text_values(std::vector<std::string_view>& out) const {
    if (!indexed_ || !other_values_.empty()) return false;
    const Py_ssize_t size = PySequence_Fast_GET_SIZE(rules_.ptr());
    out.clear();
    out.reserve(static_cast<std::size_t>(size));
    for (Py_ssize_t i = 0; i < size; ++i) {
        std::string_view text;
        // Text without a UTF-8 form (lone surrogates) equals no text id.
        if (utf8_view(PySequence_Fast_GET_ITEM(rules_.ptr(), i), text)) out.push_back(text);
    }
    return true;
}

void normalize_selection_conflicts() {
    py::list ids_dendrify = dedupe_list(fetch_rule_list(RuleList::IdsToDendrify));
    py::list ids_track = dedupe_list(fetch_rule_list(RuleList::IdsToTrack));
    py::list names_dendrify = dedupe_list(fetch_rule_list(RuleList::NamesToDendrify));
    py::list names_track = dedupe_list(fetch_rule_list(RuleList::NamesToTrack));
    // A value on both sides stays dendrified.
    ids_track = without_overlap(ids_track, ids_dendrify);
    names_track = without_overlap(names_track, names_dendrify);
    store_rule_list(RuleList::IdsToDendrify, ids_dendrify);
    store_rule_list(RuleList::IdsToTrack, ids_track);
    store_rule_list(RuleList::NamesToDendrify, names_dendrify);
    store_rule_list(RuleList::NamesToTrack, names_track);
}

py::object get_id_mode(const py::object& module_id) {
    if (contains(fetch_rule_list(RuleList::IdsToDendrify).ptr(), module_id.ptr())) {
        return borrow(names().dendrified);
    }
    if (contains(fetch_rule_list(RuleList::IdsToTrack).ptr(), module_id.ptr())) {
        return borrow(names().tracked);
    }
    return py::none();
}

py::object get_name_mode(const py::object& module_type_name) {
    if (contains(fetch_rule_list(RuleList::NamesToDendrify).ptr(), module_type_name.ptr())) {
        return borrow(names().dendrified);
    }
    if (contains(fetch_rule_list(RuleList::NamesToTrack).ptr(), module_type_name.ptr())) {
        return borrow(names().tracked);
    }
    return py::none();
}

py::object resolve_entry_modes(const py::object& entries) {
    GcPause pause;
    std::unique_ptr<EntryTable> scratch;
    EntryTable& table = EntryTable::for_entries(entries, scratch);
    Resolution resolution;
    table.resolve(resolution);
    return table.records(resolution);
}

}  // namespace nvx::target
