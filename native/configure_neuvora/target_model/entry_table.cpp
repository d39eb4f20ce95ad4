#include "entry_table.hpp"

#include <algorithm>
#include <string>

#include "budget.hpp"
#include "common/glue.hpp"
#include "module_ids.hpp"
#include "pyutil.hpp"

namespace nvx::target {
namespace {

// The value of `key` in an exact dict, borrowed; nullptr when missing.
PyObject* field(PyObject* entry, PyObject* key) {
    PyObject* value = PyDict_GetItemWithError(entry, key);
    if (value == nullptr && PyErr_Occurred()) {
        throw py::error_already_set();
    }
    return value;
}

PyObject* zero() {
    static PyObject* const value = PyLong_FromLong(0);  // never released
    return value;
}

bool exact_bool(PyObject* value) {
    return value == Py_True || value == Py_False;
}

// The exact-str values of a rule list, or false when it holds anything else
// (or is not a list or tuple): membership then needs the interpreter's `in`.
bool text_values(const py::object& rules, std::vector<std::string_view>& out) {
    PyObject* container = rules.ptr();
    if (!PyList_CheckExact(container) && !PyTuple_CheckExact(container)) {
        return false;
    }
    const Py_ssize_t size = PySequence_Fast_GET_SIZE(container);
    out.clear();
    out.reserve(static_cast<std::size_t>(size));
    for (Py_ssize_t i = 0; i < size; ++i) {
        PyObject* value = PySequence_Fast_GET_ITEM(container, i);
        if (!PyUnicode_CheckExact(value)) {
            return false;
        }
        std::string_view text;
        // Text that has no UTF-8 form (lone surrogates) equals no id or class name.
        if (utf8_view(value, text)) {
            out.push_back(text);
        }
    }
    return true;
}

PyObject* mode_text(Mode mode) {
    switch (mode) {
        case Mode::Dendrified:
            return names().dendrified;
        case Mode::Tracked:
            return names().tracked;
        default:
            return Py_None;
    }
}

PyObject* source_text(Source source) {
    switch (source) {
        case Source::Inherited:
            return names().inherited;
        case Source::Id:
            return names().id_source;
        case Source::Type:
            return names().type_source;
        default:
            return Py_None;
    }
}

void set_item(PyObject* dict, PyObject* key, PyObject* value) {
    if (PyDict_SetItem(dict, key, value) < 0) {
        throw py::error_already_set();
    }
}

}  // namespace

std::unique_ptr<EntryTable> EntryTable::build(const py::handle& entries) {
    if (!PyList_CheckExact(entries.ptr())) {
        return nullptr;
    }
    const Names& n = names();
    auto table = std::unique_ptr<EntryTable>(new EntryTable());
    table->entries_ = py::reinterpret_borrow<py::object>(entries);
    const Py_ssize_t count = PyList_GET_SIZE(entries.ptr());
    if (count >= (1LL << 30)) {
        return nullptr;
    }
    table->rows_.reserve(static_cast<std::size_t>(count));
    table->by_id_ = TextMap<int>(static_cast<std::size_t>(count));
    table->same_id_next_.assign(static_cast<std::size_t>(count), -1);
    TextMap<int> latest(static_cast<std::size_t>(count));  // id -> latest entry so far
    TextMap<int> last_with_id(static_cast<std::size_t>(count));
    IdentityMap<int> type_of_object;
    std::string scratch;

    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* entry = PyList_GET_ITEM(entries.ptr(), i);
        if (!PyDict_CheckExact(entry)) {
            return nullptr;
        }
        PyObject* id = field(entry, n.id);
        PyObject* type_name = field(entry, n.type_name);
        PyObject* module = field(entry, n.module);
        PyObject* direct = field(entry, n.direct_param_count);
        PyObject* is_root = field(entry, n.is_replaced_root);
        PyObject* in_replaced = field(entry, n.in_replaced);
        PyObject* root = field(entry, n.replaced_root);
        if (id == nullptr || type_name == nullptr || module == nullptr || direct == nullptr ||
            is_root == nullptr || in_replaced == nullptr || root == nullptr || !PyUnicode_CheckExact(id) ||
            !PyUnicode_CheckExact(type_name) || !PyLong_CheckExact(direct) || !exact_bool(is_root) ||
            !exact_bool(in_replaced) || (root != Py_None && !PyUnicode_CheckExact(root))) {
            return nullptr;
        }
        Row row;
        row.entry = py::reinterpret_borrow<py::object>(entry);
        row.id = py::reinterpret_borrow<py::object>(id);
        row.module = py::reinterpret_borrow<py::object>(module);
        if (!utf8_view(id, row.id_text)) {
            return nullptr;
        }
        const int index = static_cast<int>(i);

        // Parent: the latest entry so far whose id is the parent id.
        if (auto parent = parent_id(row.id_text, scratch)) {
            if (const int* found = latest.find(*parent)) {
                row.parent = *found;
            }
        }
        latest.assign(row.id_text, index);
        auto [first, fresh] = table->by_id_.insert(row.id_text, index);
        if (!fresh) {
            table->same_id_next_[static_cast<std::size_t>(*last_with_id.find(row.id_text))] = index;
        }
        last_with_id.assign(row.id_text, index);

        // Class names are few; each distinct text gets an index.
        auto [known, new_object] = type_of_object.insert(type_name, 0);
        if (new_object) {
            std::string_view text;
            if (!utf8_view(type_name, text)) {
                return nullptr;
            }
            auto [slot, new_text] =
                table->type_by_name_.insert(text, static_cast<int>(table->type_names_.size()));
            if (new_text) {
                table->type_names_.push_back(py::reinterpret_borrow<py::object>(type_name));
            }
            *known = *slot;
        }
        row.type_index = *known;

        if (root != Py_None) {
            std::string_view text;
            if (!utf8_view(root, text)) {
                return nullptr;
            }
            auto [slot, new_root] = table->root_by_text_.insert(text, static_cast<int>(table->roots_.size()));
            if (new_root) {
                table->roots_.push_back(py::reinterpret_borrow<py::object>(root));
                table->root_children_.push_back(0);
            }
            row.root = *slot;
            ++table->root_children_[static_cast<std::size_t>(row.root)];
        }
        row.in_replaced = in_replaced == Py_True;
        row.is_replaced_root = is_root == Py_True;
        const int positive = PyObject_RichCompareBool(direct, zero(), Py_GT);
        if (positive < 0) {
            throw py::error_already_set();
        }
        row.owns_parameters = positive != 0;
        table->rows_.push_back(std::move(row));
    }
    return table;
}

bool EntryTable::describes(const py::handle& entries) const {
    return entries.ptr() == entries_.ptr() &&
           PyList_GET_SIZE(entries.ptr()) == static_cast<Py_ssize_t>(rows_.size());
}

bool EntryTable::resolve(Resolution& out) const {
    const std::size_t count = rows_.size();
    std::vector<std::string_view> ids_dendrify, ids_track, names_dendrify, names_track;
    // Each list is read once, in the order resolve_entry_modes reads them.
    const bool plain = text_values(fetch_rule_list(RuleList::IdsToDendrify), ids_dendrify) &
                       text_values(fetch_rule_list(RuleList::IdsToTrack), ids_track) &
                       text_values(fetch_rule_list(RuleList::NamesToDendrify), names_dendrify) &
                       text_values(fetch_rule_list(RuleList::NamesToTrack), names_track);
    if (!plain) {
        return false;
    }

    // Own id rule of every entry; the dendrify list wins over the track list.
    std::vector<Mode> id_mode(count, Mode::None);
    auto mark_ids = [&](const std::vector<std::string_view>& values, Mode mode) {
        for (std::string_view value : values) {
            const int* first = by_id_.find(value);
            for (int i = first ? *first : -1; i >= 0; i = same_id_next_[static_cast<std::size_t>(i)]) {
                id_mode[static_cast<std::size_t>(i)] = mode;
            }
        }
    };
    mark_ids(ids_track, Mode::Tracked);
    mark_ids(ids_dendrify, Mode::Dendrified);

    std::vector<Mode> type_mode(type_names_.size(), Mode::None);
    auto mark_types = [&](const std::vector<std::string_view>& values, Mode mode) {
        for (std::string_view value : values) {
            if (const int* found = type_by_name_.find(value)) {
                type_mode[static_cast<std::size_t>(*found)] = mode;
            }
        }
    };
    mark_types(names_track, Mode::Tracked);
    mark_types(names_dendrify, Mode::Dendrified);

    out.eff.resize(count);
    out.source.resize(count);
    out.origin.resize(count);
    out.own_mode.resize(count);
    out.own_source.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const Row& row = rows_[i];
        const Mode by_id = id_mode[i];
        const Mode by_type = type_mode[static_cast<std::size_t>(row.type_index)];
        const Mode own = by_id != Mode::None ? by_id : by_type;
        const Source own_source =
            by_id != Mode::None ? Source::Id : (by_type != Mode::None ? Source::Type : Source::None);
        const int parent = row.parent;
        if (parent >= 0 && out.eff[static_cast<std::size_t>(parent)] != Mode::None) {
            const auto p = static_cast<std::size_t>(parent);
            out.eff[i] = out.eff[p];
            out.source[i] = Source::Inherited;
            out.origin[i] = out.origin[p];
            out.own_mode[i] = own;
            out.own_source[i] = own_source;
        } else {
            out.eff[i] = own;
            out.source[i] = own_source;
            out.origin[i] = static_cast<int>(i);
            out.own_mode[i] = Mode::None;
            out.own_source[i] = Source::None;
        }
    }
    return true;
}

py::object EntryTable::record(const Resolution& resolution, std::size_t index) const {
    const Names& n = names();
    py::object record = steal(PyDict_New());
    set_item(record.ptr(), n.eff, mode_text(resolution.eff[index]));
    set_item(record.ptr(), n.source, source_text(resolution.source[index]));
    set_item(record.ptr(), n.origin_id, rows_[static_cast<std::size_t>(resolution.origin[index])].id.ptr());
    if (resolution.own_mode[index] != Mode::None) {
        py::object overridden = steal(PyDict_New());
        set_item(overridden.ptr(), n.mode, mode_text(resolution.own_mode[index]));
        set_item(overridden.ptr(), n.source, source_text(resolution.own_source[index]));
        set_item(record.ptr(), n.overridden, overridden.ptr());
    } else {
        set_item(record.ptr(), n.overridden, Py_None);
    }
    return record;
}

py::object EntryTable::records(const Resolution& resolution) const {
    GcPause pause;
    py::object result = steal(PyDict_New());
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        set_item(result.ptr(), rows_[i].id.ptr(), record(resolution, i).ptr());
    }
    return result;
}

std::vector<int> EntryTable::visible(const py::handle& expanded_replaced) const {
    // `expanded_replaced.get(root, False)` once per distinct root (None included).
    auto is_open = [&](PyObject* root) {
        if (PyDict_CheckExact(expanded_replaced.ptr())) {
            PyObject* found = field(expanded_replaced.ptr(), root);
            return found != nullptr && py_truthy(found);
        }
        return truthy(expanded_replaced.attr("get")(py::handle(root), py::bool_(false)));
    };
    std::vector<signed char> open(roots_.size(), -1);
    signed char none_open = -1;
    std::vector<int> shown;
    shown.reserve(rows_.size());
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const Row& row = rows_[i];
        if (row.in_replaced) {
            signed char& state = row.root >= 0 ? open[static_cast<std::size_t>(row.root)] : none_open;
            if (state < 0) {
                state = is_open(row.root >= 0 ? roots_[static_cast<std::size_t>(row.root)].ptr() : Py_None)
                            ? 1
                            : 0;
            }
            if (state == 0) {
                continue;
            }
        }
        shown.push_back(static_cast<int>(i));
    }
    return shown;
}

std::size_t EntryTable::unset_count(const Resolution& resolution) const {
    std::size_t need = 0;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const Row& row = rows_[i];
        need += !row.in_replaced && !row.is_replaced_root && row.owns_parameters &&
                resolution.eff[i] == Mode::None;
    }
    return need;
}

std::size_t EntryTable::children_of(std::size_t index) const {
    const int* root = root_by_text_.find(rows_[index].id_text);
    return root != nullptr ? root_children_[static_cast<std::size_t>(*root)] : 0;
}

py::str EntryTable::budget_line(const Resolution& resolution) {
    if (!parameters_) {
        std::vector<PyObject*> modules;
        modules.reserve(rows_.size());
        for (const Row& row : rows_) modules.push_back(row.module.ptr());
        parameters_ = std::make_unique<ParameterTable>(modules);
    }
    return parameters_->line([&](std::size_t index) { return resolution.eff[index] == Mode::Dendrified; });
}

}  // namespace nvx::target
