#include "entry_reader.hpp"

#include <array>
#include <map>
#include <string_view>
#include <utility>

#include "budget.hpp"
#include "common/interp.hpp"
#include "common/torch_calls.hpp"
#include "configure_neuvora/seams.hpp"
#include "core/model/flat_map.hpp"
#include "core/text/display_text.hpp"
#include "module_entries.hpp"
#include "names.hpp"
#include "torch_access.hpp"

namespace nvx::target {
namespace {

using model::Field;

// `entry[key]`, or a null object when the entry has no such key.
py::object read_field(PyObject* entry, PyObject* key) {
    if (PyDict_CheckExact(entry)) {
        PyObject* value = PyDict_GetItemWithError(entry, key);
        if (value == nullptr && PyErr_Occurred()) throw py::error_already_set();
        return value != nullptr ? borrow(value) : py::object();
    }
    PyObject* value = PyObject_GetItem(entry, key);
    if (value == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_KeyError)) throw py::error_already_set();
        PyErr_Clear();
        return py::object();
    }
    return py::reinterpret_steal<py::object>(value);
}

// A machine integer, when `value` is an int that fits.
bool fits_machine(PyObject* value, std::int64_t& out) {
    if (!PyLong_Check(value)) return false;
    int overflow = 0;
    const long long x = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (x == -1 && PyErr_Occurred()) throw py::error_already_set();
    if (overflow != 0) return false;
    out = x;
    return true;
}

// `parameter.numel()` as a machine integer.
std::int64_t element_count(PyObject* parameter) {
    py::object as_index = steal(PyNumber_Index(numel_of(parameter).ptr()));
    const long long elements = PyLong_AsLongLong(as_index.ptr());
    if (elements == -1 && PyErr_Occurred()) throw py::error_already_set();
    return elements;
}

// Own parameters of one module, as `named_parameters(recurse=False)` yields them.
class OwnParameters {
public:
    explicit OwnParameters(TorchAccess& torch) : torch_(torch) {}

    const std::vector<py::object>& of(PyObject* module) {
        values_.clear();
        PyObject* parameters = torch_.own_parameters(module);
        if (parameters != nullptr && read_dict(parameters)) return values_;
        values_.clear();
        py::object method = steal(PyObject_GetAttr(module, names().named_parameters));
        py::object iterator = iterate_named_parameters(method.ptr(), false);
        while (PyObject* item = PyIter_Next(iterator.ptr())) {
            py::object pair = steal(item);
            values_.push_back(unpack_pair(pair.ptr()).second);
        }
        if (PyErr_Occurred()) throw py::error_already_set();
        return values_;
    }

private:
    bool read_dict(PyObject* parameters) {
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(parameters, &pos, &key, &value)) {
            if (value == Py_None) continue;
            if (!torch_.hashes_by_identity(value)) return false;
            values_.push_back(borrow(value));
        }
        return true;
    }

    TorchAccess& torch_;
    std::vector<py::object> values_;
};

// torch.nn.Module from the module's `torch` global, or null: every module
// class derives from it, so it tells nothing about a rule.
py::object torch_module_class() {
    static PyObject* const nn_name = intern("nn");
    static PyObject* const module_name = intern("Module");
    return torch_attribute(configure::seam(configure::Seam::Torch), {nn_name, module_name});
}

// Names of the base classes of `type` that say something about it: not the
// class itself, not `object`, not torch.nn.Module.
std::vector<model::Name> base_names(PyTypeObject* type, PyObject* module_class, ObjectPool& pool) {
    static PyObject* const mro_name = intern("__mro__");
    std::vector<model::Name> out;
    const py::object held = attribute_if_present(reinterpret_cast<PyObject*>(type), mro_name);
    PyObject* mro = held.ptr();
    if (mro == nullptr || !PyTuple_Check(mro)) return out;
    for (Py_ssize_t k = 1; k < PyTuple_GET_SIZE(mro); ++k) {
        PyObject* base = PyTuple_GET_ITEM(mro, k);
        if (base == reinterpret_cast<PyObject*>(&PyBaseObject_Type) || base == module_class) continue;
        py::object name = attribute_if_present(base, names().dunder_name);
        if (name && PyUnicode_Check(name.ptr())) out.push_back(read_name(name.ptr(), pool, true));
    }
    return out;
}

}  // namespace

PyObject* field_key_object(Field field) {
    static const std::array<PyObject*, model::kFieldCount> keys = [] {
        std::array<PyObject*, model::kFieldCount> interned{};
        for (std::size_t k = 0; k < model::kFieldCount; ++k)
            interned[k] = intern(model::field_key(static_cast<Field>(k)));
        return interned;
    }();
    return keys[static_cast<std::size_t>(field)];
}

EntryReader::EntryReader(const py::handle& entries)
    : entries_(PyList_CheckExact(entries.ptr()) ? borrow(entries.ptr())
                                                : steal(PySequence_List(entries.ptr()))),
      oracle_(pool_) {
    const auto count = static_cast<std::size_t>(PyList_GET_SIZE(entries_.ptr()));
    table_ = model::ModuleTable(count);
    entry_objects_.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        entry_objects_.push_back(PyList_GET_ITEM(entries_.ptr(), static_cast<Py_ssize_t>(i)));
    }
}

model::CellState EntryReader::keep_error(py::error_already_set& error) {
    if (!error.matches(PyExc_Exception)) throw;
    errors_.push_back(error);
    return model::kFailedBase + static_cast<model::CellState>(errors_.size() - 1);
}

void EntryReader::raise(const model::FieldError& error) const {
    if (error.missing()) {
        py::object args = steal(PyTuple_Pack(1, field_key_object(error.field)));
        PyErr_SetObject(PyExc_KeyError, args.ptr());
        throw py::error_already_set();
    }
    py::error_already_set kept = errors_[error.error()];
    kept.restore();
    throw py::error_already_set();
}

void EntryReader::load(std::initializer_list<Field> fields) {
    for (const Field field : fields) load_field(field);
}

void EntryReader::load_field(Field field) {
    // Reading many values allocates objects that form no cycles; the collector
    // would otherwise walk the whole model again and again meanwhile.
    GcPause pause;
    const std::size_t count = size();
    auto fill = [&](auto& column, auto convert) {
        if (column.loaded) return;
        column.values.resize(count);
        PyObject* key = field_key_object(field);
        for (std::size_t i = 0; i < count; ++i) {
            py::object value = read_field(entry_objects_[i], key);
            if (!value) {
                column.set_state(i, model::kMissing);
                continue;
            }
            // A plain dict holds its values; what another mapping hands out is
            // kept here, since names are read as views into it.
            if (!PyDict_CheckExact(entry_objects_[i])) held_.push_back(value);
            try {
                convert(i, value, column.values[i]);
            } catch (py::error_already_set& error) {
                column.set_state(i, keep_error(error));
            }
        }
        column.loaded = true;
    };
    auto truth = [](std::size_t, const py::object& value, unsigned char& out) {
        out = value.ptr() == Py_True || (value.ptr() != Py_False && truthy(value));
    };
    switch (field) {
        case Field::Id:
            id_objects_.resize(count);
            fill(table_.ids, [&](std::size_t i, const py::object& value, model::Name& out) {
                id_objects_[i] = value;
                out = read_name(value.ptr(), pool_, false);
            });
            break;
        case Field::TypeName: {
            // One slot per distinct class name: text names by their text, others by identity.
            std::unordered_map<std::string_view, int> by_text;
            model::IdentityMap<int> by_object;
            fill(table_.type_slots, [&](std::size_t, const py::object& value, int& out) {
                auto [known, fresh] = by_object.insert(value.ptr(), 0);
                if (fresh) {
                    model::Name name = read_name(value.ptr(), pool_, false);
                    int slot = static_cast<int>(table_.class_names.size());
                    if (name.is_text()) {
                        auto found = by_text.find(name.text);
                        if (found != by_text.end()) {
                            slot = found->second;
                        } else {
                            table_.class_names.push_back(std::move(name));
                            by_text.emplace(table_.class_names.back().text, slot);
                        }
                    } else {
                        table_.class_names.push_back(std::move(name));
                    }
                    *known = slot;
                }
                out = *known;
            });
            break;
        }
        case Field::Depth:
            fill(table_.indents, [](std::size_t, const py::object& value, std::int64_t& out) {
                constexpr std::int64_t kPlainRepeats = 1 << 24;
                if (fits_machine(value.ptr(), out) && out < kPlainRepeats) {
                    if (out < 0) out = 0;
                    return;
                }
                // `"  " * depth` with the interpreter's rules for the repeat count.
                py::object repeated = steal(PyNumber_Multiply(py::str("  ").ptr(), value.ptr()));
                out = static_cast<std::int64_t>(py::len(to_str(repeated)) / 2);
            });
            break;
        case Field::DirectParamCount:
            if (table_.owns_parameters.loaded) return;
            table_.own_counts.values.resize(count);
            fill(table_.owns_parameters, [&](std::size_t i, const py::object& value, unsigned char& out) {
                model::Count& own = table_.own_counts.values[i];
                own.machine = PyLong_CheckExact(value.ptr()) && fits_machine(value.ptr(), own.value);
                if (own.machine) {
                    out = own.value > 0;
                    return;
                }
                py::object zero = steal(PyLong_FromLong(0));
                const int positive = PyObject_RichCompareBool(value.ptr(), zero.ptr(), Py_GT);
                if (positive < 0) throw py::error_already_set();
                out = positive != 0;
                if (!out) return;
                try {
                    table_.count_texts[i] = to_u32(format_human_count(value));
                } catch (py::error_already_set& error) {
                    table_.own_counts.set_state(i, keep_error(error));
                }
            });
            // A missing count is missing for its text too.
            for (std::size_t i = 0; i < count && !table_.owns_parameters.states.empty(); ++i) {
                if (table_.owns_parameters.states[i] == model::kMissing)
                    table_.own_counts.set_state(i, model::kMissing);
            }
            table_.own_counts.loaded = true;
            break;
        case Field::IsReplacedRoot:
            fill(table_.is_replaced_root, truth);
            break;
        case Field::InReplaced:
            fill(table_.in_replaced, truth);
            break;
        case Field::ReplacedRoot:
            fill(table_.replaced_roots, [&](std::size_t, const py::object& value, model::Name& out) {
                out = read_name(value.ptr(), pool_, false);
            });
            break;
        case Field::Module:
            load_parameters();
            break;
    }
}

void EntryReader::load_parents() {
    load_field(Field::Id);
    if (parents_loaded_) return;
    parents_loaded_ = true;
    bool all_text = true;
    for (std::size_t i = 0; i < size(); ++i) {
        if (!table_.ids.present(i)) return;  // resolving raises KeyError first
        all_text = all_text && table_.ids.values[i].is_text();
    }
    if (all_text) return;
    // The latest earlier row with the parent id, with the interpreter's key equality.
    std::vector<int> parents(size(), -1);
    py::dict latest;
    for (std::size_t i = 0; i < size(); ++i) {
        const py::object& id = id_objects_[i];
        py::object parent = get_parent_module_id(id);
        if (!parent.is_none()) {
            PyObject* found = PyDict_GetItemWithError(latest.ptr(), parent.ptr());
            if (found == nullptr && PyErr_Occurred()) throw py::error_already_set();
            if (found != nullptr) parents[i] = static_cast<int>(PyLong_AsLong(found));
        }
        set_item(latest.ptr(), id.ptr(), py::int_(i).ptr());
    }
    table_.parents = std::move(parents);
}

void EntryReader::load_parameters() {
    model::Column<bool>& modules = table_.modules;
    if (modules.loaded) return;
    GcPause pause;
    const std::size_t count = size();
    modules.values.assign(count, 1);
    // At a hundred thousand modules the work is mostly waiting for memory: each
    // step runs over all rows and asks for the objects a few steps ahead
    // (addresses already in hand) before it reads the current one.
    constexpr std::size_t kAhead = 16;
    PyObject* key = field_key_object(Field::Module);
    std::vector<PyObject*> module_of(count, nullptr);  // borrowed: the entries hold them
    for (std::size_t i = 0; i < count; ++i) {
        if (i + kAhead < count) __builtin_prefetch(entry_objects_[i + kAhead]);
        py::object module = read_field(entry_objects_[i], key);
        if (module) {
            module_of[i] = module.ptr();
        } else {
            modules.set_state(i, model::kMissing);
        }
    }

    // Rows -> every row's own parameters, flattened, held until the end.
    TorchAccess torch;
    OwnParameters own(torch);
    std::vector<py::object> listed;
    listed.reserve(count * 2);
    std::vector<std::size_t> starts(count + 1, 0);
    for (std::size_t i = 0; i < count; ++i) {
        if (i + kAhead < count && module_of[i + kAhead] != nullptr) __builtin_prefetch(module_of[i + kAhead]);
        starts[i] = listed.size();
        if (module_of[i] == nullptr) continue;
        try {
            const std::vector<py::object>& held = own.of(module_of[i]);
            listed.insert(listed.end(), held.begin(), held.end());
        } catch (py::error_already_set& error) {
            modules.set_state(i, keep_error(error));
            listed.resize(starts[i]);
        }
    }
    starts[count] = listed.size();

    // Parameters -> distinct parameters with their numel(), asked once each.
    model::Parameters& parameters = table_.parameters;
    std::vector<std::uint32_t> slot_of(listed.size());
    model::IdentityMap<std::uint32_t> index_of(listed.size());
    std::vector<int> failed_at(listed.size(), -1);
    for (std::size_t k = 0; k < listed.size(); ++k) {
        if (k + kAhead < listed.size()) __builtin_prefetch(listed[k + kAhead].ptr());
        PyObject* parameter = listed[k].ptr();
        auto [slot, fresh] = index_of.insert(parameter, static_cast<std::uint32_t>(parameters.numel.size()));
        slot_of[k] = *slot;
        if (!fresh) continue;
        std::int64_t elements = 0;
        try {
            elements = element_count(parameter);
        } catch (py::error_already_set& error) {
            failed_at[k] = static_cast<int>(keep_error(error));
        }
        parameters.numel.push_back(elements);
        parameters_alive_.push_back(listed[k]);  // identities stay unique while they live
    }

    // Each row's distinct parameters; a row whose parameter could not be counted fails.
    std::vector<std::uint32_t> last_row(parameters.numel.size(), 0xffffffffu);
    parameters.offsets.assign(1, 0);
    for (std::size_t i = 0; i < count; ++i) {
        for (std::size_t k = starts[i]; k < starts[i + 1]; ++k) {
            if (failed_at[k] >= 0 && modules.present(i))
                modules.set_state(i, static_cast<model::CellState>(failed_at[k]));
            const std::uint32_t p = slot_of[k];
            if (last_row[p] == static_cast<std::uint32_t>(i)) continue;
            last_row[p] = static_cast<std::uint32_t>(i);
            parameters.members.push_back(p);
        }
        parameters.offsets.push_back(static_cast<std::uint32_t>(parameters.members.size()));
    }
    modules.loaded = true;
    // Identities of the model's own parameters are matched against these later.
    index_of_parameters_ = std::move(index_of);
}

void EntryReader::load_class_uses() {
    if (table_.classes_known) return;
    load_field(Field::TypeName);
    const py::object module_class = torch_module_class();
    std::map<std::pair<int, PyTypeObject*>, std::size_t> known;
    PyObject* key = field_key_object(Field::Module);
    for (std::size_t i = 0; i < size(); ++i) {
        if (!table_.type_slots.present(i)) continue;
        py::object module = read_field(entry_objects_[i], key);
        if (!module) continue;
        const int slot = table_.type_slots.values[i];
        PyTypeObject* type = Py_TYPE(module.ptr());
        auto [at, fresh] = known.emplace(std::make_pair(slot, type), table_.class_uses.size());
        if (fresh)
            table_.class_uses.push_back(
                model::ClassUse{slot, 0, base_names(type, module_class.ptr(), pool_)});
        ++table_.class_uses[at->second].count;
    }
    table_.classes_known = true;
}

void EntryReader::load_model_parameters(const py::handle& model) {
    load_parameters();
    py::object method = attribute_if_present(model.ptr(), names().named_parameters);
    if (!method) return;
    model::ModelParameters own;
    model::Parameters& parameters = table_.parameters;
    py::object iterator = iterate_named_parameters(method.ptr(), false);
    while (PyObject* item = PyIter_Next(iterator.ptr())) {
        py::object pair = steal(item);
        auto [name, parameter] = unpack_pair(pair.ptr());
        auto [slot, fresh] =
            index_of_parameters_.insert(parameter.ptr(), static_cast<std::uint32_t>(parameters.numel.size()));
        if (fresh) {
            parameters.numel.push_back(element_count(parameter.ptr()));
            parameters_alive_.push_back(parameter);
        }
        own.names.push_back(display::escape_controls(to_u32(to_str(name))));
        own.parameters.push_back(*slot);
    }
    if (PyErr_Occurred()) throw py::error_already_set();
    table_.model_parameters = std::move(own);
}

}  // namespace nvx::target
