#include "mode_rules.hpp"

#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "flat_map.hpp"
#include "module_entries.hpp"
#include "module_ids.hpp"
#include "pyutil.hpp"

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

// The mode one pair of rule lists gives a value, or nullptr for none.
PyObject* mode_from(const RuleMembership& dendrify, const RuleMembership& track, PyObject* value) {
    if (dendrify.contains(value)) return names().dendrified;
    if (track.contains(value)) return names().tracked;
    return nullptr;
}

PyObject* or_none(PyObject* value) {
    return value != nullptr ? value : Py_None;
}

void set_item(PyObject* dict, PyObject* key, PyObject* value) {
    if (PyDict_SetItem(dict, key, value) < 0) {
        throw py::error_already_set();
    }
}

// One resolved-mode record, keys in their fixed order.
py::object make_record(PyObject* eff, PyObject* source, PyObject* origin, PyObject* own_mode,
                       PyObject* own_source) {
    const Names& n = names();
    py::object record = steal(PyDict_New());
    set_item(record.ptr(), n.eff, or_none(eff));
    set_item(record.ptr(), n.source, or_none(source));
    set_item(record.ptr(), n.origin_id, origin);
    if (own_mode != nullptr) {
        py::object overridden = steal(PyDict_New());
        set_item(overridden.ptr(), n.mode, own_mode);
        set_item(overridden.ptr(), n.source, own_source);
        set_item(record.ptr(), n.overridden, overridden.ptr());
    } else {
        set_item(record.ptr(), n.overridden, Py_None);
    }
    return record;
}

// What a child needs from its parent's record.
struct ParentState {
    PyObject* eff = nullptr;  // nullptr: no mode
    PyObject* origin = nullptr;
};

// The rule lists, each read once for a whole resolution.
struct Rules {
    RuleMembership ids_dendrify{fetch_rule_list(RuleList::IdsToDendrify)};
    RuleMembership ids_track{fetch_rule_list(RuleList::IdsToTrack)};
    RuleMembership names_dendrify{fetch_rule_list(RuleList::NamesToDendrify)};
    RuleMembership names_track{fetch_rule_list(RuleList::NamesToTrack)};
};

// One entry as read by the index pass. The class name is read there too when
// the entry is a plain dict (it is looked up again, raising, when missing).
struct EntryRef {
    py::object entry;
    py::object id;
    py::object type_name;
    std::string_view text;  // UTF-8 of the id, when the id is plain text
};

// Resolves one entry given its parent's state; returns the record and its state.
py::object resolve_one(Rules& rules, const EntryRef& ref, const ParentState* parent, ParentState& state) {
    const Names& n = names();
    PyObject* entry_id = ref.id.ptr();
    PyObject* id_mode = mode_from(rules.ids_dendrify, rules.ids_track, entry_id);
    py::object type_name = ref.type_name ? ref.type_name : get_item(ref.entry.ptr(), n.type_name);
    PyObject* type_mode = mode_from(rules.names_dendrify, rules.names_track, type_name.ptr());
    PyObject* own_mode = id_mode != nullptr ? id_mode : type_mode;
    PyObject* own_source =
        id_mode != nullptr ? n.id_source : (type_mode != nullptr ? n.type_source : nullptr);
    if (parent != nullptr && parent->eff != nullptr) {
        state = *parent;
        return make_record(parent->eff, n.inherited, parent->origin, own_mode, own_source);
    }
    state.eff = own_mode;
    state.origin = entry_id;
    return make_record(own_mode, own_source, entry_id, nullptr, nullptr);
}

// Ids that are plain text: parents are found by slicing the UTF-8 text.
//
// The parent record is the record of the latest entry resolved so far whose id
// is the parent id. In pre-order that entry is on the chain of ancestors of the
// previous entry, so a stack of (id, state) answers almost every lookup without
// hashing; a table of all ids is built only when an entry's parent is not on
// that chain (entries out of order, ids with dots of their own).
//
// Along the chain each id is a strict prefix of the next (a parent id is always
// shorter than the id it came from), so no id appears twice on it and the entry
// found there is the latest one with that id.
py::object resolve_text_ids(Rules& rules, const std::vector<EntryRef>& refs) {
    py::object result = steal(PyDict_New());
    std::vector<std::pair<std::string_view, ParentState>> chain;
    std::vector<ParentState> states(refs.size());
    std::unique_ptr<TextMap<ParentState>> table;
    std::string scratch;
    for (std::size_t i = 0; i < refs.size(); ++i) {
        if (i + 8 < refs.size()) {
            __builtin_prefetch(refs[i + 8].id.ptr());
            __builtin_prefetch(refs[i + 8].text.data());
        }
        const EntryRef& ref = refs[i];
        const ParentState* parent = nullptr;
        if (auto parent_view = parent_id(ref.text, scratch)) {
            while (!chain.empty() && chain.back().first != *parent_view) {
                chain.pop_back();
            }
            if (!chain.empty()) {
                parent = &chain.back().second;
            } else {
                if (!table) {
                    table = std::make_unique<TextMap<ParentState>>(refs.size());
                    for (std::size_t j = 0; j < i; ++j) {
                        table->assign(refs[j].text, states[j]);
                    }
                }
                parent = table->find(*parent_view);
            }
        } else {
            chain.clear();
        }
        ParentState state;
        py::object record = resolve_one(rules, ref, parent, state);
        set_item(result.ptr(), ref.id.ptr(), record.ptr());
        states[i] = state;
        if (table) {
            table->assign(ref.text, state);
        }
        chain.emplace_back(ref.text, state);
    }
    return result;
}

// Any other ids: the interpreter's own dictionaries and `get_parent_module_id`.
py::object resolve_any_ids(Rules& rules, const std::vector<EntryRef>& refs) {
    const Names& n = names();
    py::dict index;
    for (const EntryRef& ref : refs) {
        set_item(index.ptr(), ref.id.ptr(), ref.entry.ptr());
    }
    py::dict result;
    for (const EntryRef& ref : refs) {
        py::object parent_id_value = get_parent_module_id(ref.id);
        ParentState parent_state;
        const ParentState* parent = nullptr;
        if (!parent_id_value.is_none() && py_contains(index.ptr(), parent_id_value.ptr())) {
            PyObject* record = PyDict_GetItemWithError(result.ptr(), parent_id_value.ptr());
            if (record == nullptr && PyErr_Occurred()) {
                throw py::error_already_set();
            }
            if (record != nullptr) {
                PyObject* eff = PyDict_GetItemWithError(record, n.eff);
                PyObject* origin = PyDict_GetItemWithError(record, n.origin_id);
                if (PyErr_Occurred()) {
                    throw py::error_already_set();
                }
                parent_state.eff = eff == Py_None ? nullptr : eff;
                parent_state.origin = origin;
                parent = &parent_state;
            }
        }
        ParentState state;
        py::object record = resolve_one(rules, ref, parent, state);
        set_item(result.ptr(), ref.id.ptr(), record.ptr());
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
        return py_contains(rules_.ptr(), value);
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
    if (py_contains(fetch_rule_list(RuleList::IdsToDendrify).ptr(), module_id.ptr())) {
        return borrow(names().dendrified);
    }
    if (py_contains(fetch_rule_list(RuleList::IdsToTrack).ptr(), module_id.ptr())) {
        return borrow(names().tracked);
    }
    return py::none();
}

py::object get_name_mode(const py::object& module_type_name) {
    if (py_contains(fetch_rule_list(RuleList::NamesToDendrify).ptr(), module_type_name.ptr())) {
        return borrow(names().dendrified);
    }
    if (py_contains(fetch_rule_list(RuleList::NamesToTrack).ptr(), module_type_name.ptr())) {
        return borrow(names().tracked);
    }
    return py::none();
}

py::object resolve_entry_modes(const py::object& entries) {
    const Names& n = names();
    GcPause pause;
    // The index pass reads every entry's id before anything is resolved.
    std::vector<EntryRef> refs;
    bool text_ids = true;
    auto read = [&](PyObject* item) {
        EntryRef ref;
        ref.entry = borrow(item);
        ref.id = get_item(item, n.id);
        if (PyDict_CheckExact(item)) {
            PyObject* type_name = PyDict_GetItemWithError(item, n.type_name);
            if (type_name == nullptr && PyErr_Occurred()) {
                throw py::error_already_set();
            }
            if (type_name != nullptr) {
                ref.type_name = borrow(type_name);
            }
        }
        text_ids = text_ids && PyUnicode_CheckExact(ref.id.ptr()) && utf8_view(ref.id.ptr(), ref.text);
        refs.push_back(std::move(ref));
    };
    if (PyList_CheckExact(entries.ptr())) {
        // Entry dicts ahead are fetched into the cache while the current one is read.
        const Py_ssize_t count = PyList_GET_SIZE(entries.ptr());
        refs.reserve(static_cast<std::size_t>(count));
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(entries.ptr()); ++i) {
            if (i + 24 < PyList_GET_SIZE(entries.ptr())) {
                __builtin_prefetch(PyList_GET_ITEM(entries.ptr(), i + 24));
            }
            if (i + 12 < PyList_GET_SIZE(entries.ptr())) {
                PyObject* ahead = PyList_GET_ITEM(entries.ptr(), i + 12);
                if (PyDict_CheckExact(ahead)) {
                    const char* keys =
                        reinterpret_cast<const char*>(reinterpret_cast<PyDictObject*>(ahead)->ma_keys);
                    __builtin_prefetch(keys);
                    __builtin_prefetch(keys + 64);
                    __builtin_prefetch(keys + 128);
                }
            }
            read(PyList_GET_ITEM(entries.ptr(), i));
        }
    } else {
        py::object iterator = steal(PyObject_GetIter(entries.ptr()));
        while (PyObject* item = PyIter_Next(iterator.ptr())) {
            py::object held = steal(item);
            read(item);
        }
        if (PyErr_Occurred()) {
            throw py::error_already_set();
        }
    }
    if (refs.empty()) {
        return py::dict();
    }
    Rules rules;
    return text_ids ? resolve_text_ids(rules, refs) : resolve_any_ids(rules, refs);
}

}  // namespace nvx::target
