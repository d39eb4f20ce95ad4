#include "checkpoint.hpp"

#include <utility>
#include <vector>

#include "common/interp.hpp"
#include "pycall.hpp"

namespace nvx::clean {
namespace {

// Where a wrapper records the names of `record_state_left_behind` (absent when
// there are none, and in wrappers made before they were recorded).
PyObject* left_behind_name() {
    static PyObject* name = intern("_state_left_behind");
    return name;
}

// The text of `key` after `prefix`, or a null object when `key` is not a str
// beginning with it.
py::object after_prefix(py::handle key, py::handle prefix) {
    if (!PyUnicode_Check(key.ptr())) {
        return py::object();
    }
    const Py_ssize_t match = PyUnicode_Tailmatch(key.ptr(), prefix.ptr(), 0, PY_SSIZE_T_MAX, -1);
    if (match < 0) {
        throw py::error_already_set();
    }
    if (match == 0) {
        return py::object();
    }
    return steal(PyUnicode_Substring(key.ptr(), PyUnicode_GetLength(prefix.ptr()), PY_SSIZE_T_MAX));
}

// `text` cut before its first ".": the member name and the rest ("" or ".…").
std::pair<py::object, py::object> split_member(py::handle text) {
    const Py_ssize_t length = PyUnicode_GetLength(text.ptr());
    const Py_ssize_t dot = PyUnicode_FindChar(text.ptr(), '.', 0, length, 1);
    if (dot == -2) {
        throw py::error_already_set();
    }
    if (dot == -1) {
        return {py::reinterpret_borrow<py::object>(text), py::str("")};
    }
    return {steal(PyUnicode_Substring(text.ptr(), 0, dot)),
            steal(PyUnicode_Substring(text.ptr(), dot, length))};
}

// The number of a list entry's name as torch writes it ("0", "12"), or -1.
Py_ssize_t entry_number(py::handle name) {
    const Py_ssize_t length = PyUnicode_GetLength(name.ptr());
    if (length < 1 || length > 18 || (length > 1 && PyUnicode_ReadChar(name.ptr(), 0) == '0')) {
        return -1;
    }
    Py_ssize_t number = 0;
    for (Py_ssize_t i = 0; i < length; ++i) {
        const Py_UCS4 digit = PyUnicode_ReadChar(name.ptr(), i);
        if (digit < '0' || digit > '9') {
            return -1;
        }
        number = number * 10 + static_cast<Py_ssize_t>(digit - '0');
    }
    return number;
}

// The member names of `module.state_dict(keep_vars=True)`, in order, once each.
py::list state_member_names(py::handle module) {
    using namespace py::literals;
    py::object state = module.attr("state_dict")("keep_vars"_a = true);
    py::list names;
    for (py::handle key : state) {
        py::object member = split_member(key).first;
        if (!contains(names, member)) {
            names.append(member);
        }
    }
    return names;
}

// A skip-weight entry of a state dict: its number, the rest of its key after
// the number ("" for a ParameterList), and the key itself.
struct SkipEntry {
    Py_ssize_t number;
    py::object rest;
    py::object key;
};

}  // namespace

void record_state_left_behind(py::handle original, py::handle wrapper) {
    py::list kept = state_member_names(wrapper);
    kept.append(py::handle(names().skip_weights));
    py::list left;
    for (py::handle member : state_member_names(original)) {
        if (!contains(kept, member)) {
            left.append(member);
        }
    }
    if (!left.empty() && PyObject_SetAttr(wrapper.ptr(), left_behind_name(), py::tuple(left).ptr()) < 0) {
        throw py::error_already_set();
    }
}

// Which layout a state dict has is decided by its skip-weight entries alone.
// The wrapper keeps k of them (0 when it has none), numbered 0 .. k-1; the
// wrapped layer had k+1 (or, when the wrapper has none, at most one), numbered
// 0 .. k. An entry numbered k therefore exists only in a state dict saved
// before conversion: when it is present, every skip-weight entry is renamed
// from the layer's numbering (entry 0 dropped, entry i becoming i-1); without
// it the entries are loaded by their names, as saved from a wrapper. Member
// names the wrapper recorded as left behind are removed either way: they occur
// only in state dicts saved before conversion.
void adapt_checkpoint(py::handle wrapper, py::handle state_dict, py::handle prefix) {
    py::object skip = module_attr_if_present(wrapper, names().skip_weights);
    const Py_ssize_t kept = skip ? container_len(skip) : 0;
    py::object left_behind = module_attr_if_present(wrapper, left_behind_name());

    std::vector<SkipEntry> entries;
    std::vector<py::object> dropped;
    bool saved_before_conversion = false;
    for (py::handle key : list_copy(steal(PyMapping_Keys(state_dict.ptr())))) {
        py::object rest = after_prefix(key, prefix);
        if (!rest) {
            continue;
        }
        auto [member, after_member] = split_member(rest);
        if (left_behind && contains(left_behind, member)) {
            dropped.push_back(py::reinterpret_borrow<py::object>(key));
            continue;
        }
        if (PyUnicode_Compare(member.ptr(), names().skip_weights) != 0 ||
            PyUnicode_GetLength(after_member.ptr()) < 2) {
            continue;
        }
        py::object entry_path = steal(PyUnicode_Substring(after_member.ptr(), 1, PY_SSIZE_T_MAX));
        auto [entry, after_entry] = split_member(entry_path);
        const Py_ssize_t number = entry_number(entry);
        if (number >= 0) {
            entries.push_back({number, after_entry, py::reinterpret_borrow<py::object>(key)});
            saved_before_conversion = saved_before_conversion || number == kept;
        }
    }
    for (const py::object& key : dropped) {
        if (PyObject_DelItem(state_dict.ptr(), key.ptr()) < 0) {
            throw py::error_already_set();
        }
    }
    if (!saved_before_conversion) {
        return;
    }
    // Every entry is taken out before any is put back under its new name, so
    // that no renamed entry replaces one that is still to be moved.
    std::vector<py::object> values;
    values.reserve(entries.size());
    for (const SkipEntry& entry : entries) {
        values.push_back(steal(PyObject_GetItem(state_dict.ptr(), entry.key.ptr())));
        if (PyObject_DelItem(state_dict.ptr(), entry.key.ptr()) < 0) {
            throw py::error_already_set();
        }
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].number == 0) {
            continue;
        }
        py::object key = steal(PyUnicode_FromFormat("%Uskip_weights.%zd%U", prefix.ptr(),
                                                    entries[i].number - 1, entries[i].rest.ptr()));
        if (PyObject_SetItem(state_dict.ptr(), key.ptr(), values[i].ptr()) < 0) {
            throw py::error_already_set();
        }
    }
}

}  // namespace nvx::clean
