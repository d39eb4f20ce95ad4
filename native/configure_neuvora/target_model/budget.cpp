#include "budget.hpp"

#include <cstdint>
#include <vector>

#include "common/glue.hpp"
#include "flat_map.hpp"
#include "human_count.hpp"
#include "pyutil.hpp"
#include "torch_access.hpp"

namespace nvx::target {
namespace {

bool machine_int(PyObject* value, std::int64_t& out) {
    if (!PyLong_CheckExact(value)) {
        return false;
    }
    int overflow = 0;
    const long long x = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (x == -1 && PyErr_Occurred()) {
        throw py::error_already_set();
    }
    if (overflow != 0) {
        return false;
    }
    out = x;
    return true;
}

bool less_than(PyObject* value, long long bound) {
    py::object limit = steal(PyLong_FromLongLong(bound));
    py::object result = steal(PyObject_RichCompare(value, limit.ptr(), Py_LT));
    return py_truthy(result.ptr());
}

// `format(x, ".1f")`.
py::object format_one_decimal(PyObject* x) {
    py::str one_decimal(".1f");
    return steal(PyObject_Format(x, one_decimal.ptr()));
}

// The format for values that are not machine integers, step by step as the
// interpreter evaluates it.
py::str human_count_of_object(PyObject* value) {
    if (less_than(value, 1000)) {
        return steal(PyObject_Str(value));
    }
    double divisor = 1000000000.0;
    const char* unit = "B";
    if (less_than(value, 1000000)) {
        divisor = 1000.0;
        unit = "K";
    } else if (less_than(value, 1000000000)) {
        divisor = 1000000.0;
        unit = "M";
    }
    py::object denominator = steal(PyFloat_FromDouble(divisor));
    py::object quotient = steal(PyNumber_TrueDivide(value, denominator.ptr()));
    py::object text = format_one_decimal(quotient.ptr());
    if (!PyUnicode_Check(text.ptr())) {
        throw py::type_error("format() did not return text");
    }
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text.ptr());
    py::str tail(".0");
    const Py_ssize_t ends = PyUnicode_Tailmatch(text.ptr(), tail.ptr(), 0, length, 1);
    if (ends < 0) {
        throw py::error_already_set();
    }
    if (ends == 1) {
        text = steal(PyUnicode_Substring(text.ptr(), 0, length - 2));
    }
    return steal(PyUnicode_Concat(text.ptr(), py::str(unit).ptr()));
}

py::str human_count(const Sum& sum) {
    if (sum.exact_machine()) {
        return py::str(format_human_count(sum.machine_value()));
    }
    return human_count_of_object(sum.value().ptr());
}

// Own parameters of one module, as `named_parameters(recurse=False)` yields them.
class OwnParameters {
public:
    explicit OwnParameters(TorchAccess& torch) : torch_(torch) {}

    const std::vector<py::object>& of(PyObject* module) {
        values_.clear();
        PyObject* parameters = torch_.own_parameters(module);
        if (parameters != nullptr && read_dict(parameters)) {
            return values_;
        }
        values_.clear();
        const Names& n = names();
        py::object method = steal(PyObject_GetAttr(module, n.named_parameters));
        py::dict kwargs;
        kwargs[n.recurse] = py::bool_(false);
        py::object pairs = steal(PyObject_Call(method.ptr(), py::tuple().ptr(), kwargs.ptr()));
        py::object iterator = steal(PyObject_GetIter(pairs.ptr()));
        while (PyObject* item = PyIter_Next(iterator.ptr())) {
            py::object pair = steal(item);
            values_.push_back(unpack_pair(pair.ptr()).second);
        }
        if (PyErr_Occurred()) {
            throw py::error_already_set();
        }
        return values_;
    }

private:
    bool read_dict(PyObject* parameters) {
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(parameters, &pos, &key, &value)) {
            if (value == Py_None) {
                continue;
            }
            if (!torch_.hashes_by_identity(value)) {
                return false;
            }
            values_.push_back(borrow(value));
        }
        return true;
    }

    TorchAccess& torch_;
    std::vector<py::object> values_;
};

// numel() of each distinct parameter, asked once per call.
struct Count {
    std::int64_t machine = 0;
    py::object boxed;  // set when the count is not a machine integer
};

}  // namespace

py::str format_human_count(const py::object& value) {
    std::int64_t machine = 0;
    if (machine_int(value.ptr(), machine)) {
        return py::str(target::format_human_count(machine));
    }
    return human_count_of_object(value.ptr());
}

namespace {

// The two sums of the budget line.
struct Budget {
    Sum total;
    Sum added;
};

// numel() of every distinct parameter, each asked once, keyed by identity as id() is.
class ParameterSizes {
public:
    explicit ParameterSizes(std::size_t expected) : index_(expected) {}

    void prefetch(PyObject* parameter) const { index_.prefetch(parameter); }

    // Counts `parameter` into the model total unless it was counted already.
    void count_total(const py::object& parameter, Sum& total) {
        auto [slot, fresh] = index_.insert(parameter.ptr(), Seen{static_cast<int>(counts_.size()), false});
        if (!fresh) {
            return;
        }
        counts_.emplace_back();
        alive_.push_back(parameter);  // identities stay unique while the parameters live
        PyObject* stack[] = {parameter.ptr()};
        py::object size = steal(
            PyObject_VectorcallMethod(names().numel, stack, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
        Count& count = counts_.back();
        if (!machine_int(size.ptr(), count.machine)) {
            count.boxed = size;
        }
        total.add(size.ptr());
    }

    // Adds an already counted parameter to the per-cycle sum unless added already.
    void count_added(PyObject* parameter, Sum& added) {
        Seen* seen = index_.find(parameter);
        if (seen->added) {
            return;
        }
        seen->added = true;
        const Count& count = counts_[seen->index];
        if (count.boxed) {
            added.add(count.boxed.ptr());
        } else {
            added.add(count.machine);
        }
    }

private:
    struct Seen {
        int index = 0;
        bool added = false;
    };
    IdentityMap<Seen> index_;
    std::vector<Count> counts_;
    std::vector<py::object> alive_;
};

// Entry by entry, exactly in the order the line is defined.
Budget sequential_budget(const py::object& entries, const py::object& resolved) {
    const Names& n = names();
    TorchAccess torch;
    OwnParameters own(torch);
    ParameterSizes sizes(1024);
    Budget budget;
    py::object iterator = steal(PyObject_GetIter(entries.ptr()));
    while (PyObject* item = PyIter_Next(iterator.ptr())) {
        py::object entry = steal(item);
        py::object module = get_item(entry.ptr(), n.module);
        const std::vector<py::object>& parameters = own.of(module.ptr());
        for (const py::object& parameter : parameters) {
            sizes.count_total(parameter, budget.total);
        }
        py::object record = get_item(resolved.ptr(), get_item(entry.ptr(), n.id).ptr());
        if (!py_eq(get_item(record.ptr(), n.eff).ptr(), n.dendrified)) {
            continue;
        }
        for (const py::object& parameter : parameters) {
            sizes.count_added(parameter.ptr(), budget.added);
        }
    }
    if (PyErr_Occurred()) {
        throw py::error_already_set();
    }
    return budget;
}

inline void prefetch(const void* address) {
    __builtin_prefetch(address, 0, 3);
}

// The first cache lines of a dict's key table.
inline void prefetch_dict_table(PyObject* dict) {
    const char* keys = reinterpret_cast<const char*>(reinterpret_cast<PyDictObject*>(dict)->ma_keys);
    prefetch(keys);
    prefetch(keys + 64);
    prefetch(keys + 128);
}

constexpr std::size_t kFar = 16;
constexpr std::size_t kNear = 8;
constexpr std::size_t kClose = 4;

// The same sums for the usual case (a list of plain entry dicts over plain torch
// modules, a dict of plain records), in phases over all entries, each fetching
// the objects of the entries ahead into the cache: at a hundred thousand modules
// the work is mostly waiting for memory. Makes no call that can raise or run
// interpreted code before the numel() calls; returns false whenever anything is
// not plain, and the caller then starts over entry by entry.
bool phased_budget(const py::object& entries, const py::object& resolved, Budget& budget) {
    if (!PyList_CheckExact(entries.ptr()) || !PyDict_CheckExact(resolved.ptr())) {
        return false;
    }
    TorchAccess torch;
    if (!torch.available()) {
        return false;
    }
    const Names& n = names();
    const std::size_t count = static_cast<std::size_t>(PyList_GET_SIZE(entries.ptr()));
    PyObject** items = PySequence_Fast_ITEMS(entries.ptr());

    // Entries -> modules and ids.
    std::vector<PyObject*> modules(count);
    std::vector<py::object> ids(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (i + kFar < count) prefetch(items[i + kFar]);
        if (i + kNear < count && PyDict_CheckExact(items[i + kNear])) prefetch_dict_table(items[i + kNear]);
        PyObject* entry = items[i];
        if (!PyDict_CheckExact(entry)) return false;
        PyObject* module = PyDict_GetItemWithError(entry, n.module);
        PyObject* id = PyDict_GetItemWithError(entry, n.id);
        if (module == nullptr || id == nullptr) {
            PyErr_Clear();
            return false;
        }
        modules[i] = module;
        ids[i] = borrow(id);
    }

    // Modules -> their own parameter dicts.
    std::vector<PyObject*> tables(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (i + kFar < count) {
            prefetch(modules[i + kFar]);
            prefetch(reinterpret_cast<const char*>(modules[i + kFar]) - 32);  // the instance dict slot
        }
        if (i + kNear < count) {
            PyObject** slot = _PyObject_GetDictPtr(modules[i + kNear]);
            if (slot != nullptr && *slot != nullptr) prefetch(*slot);
            PyErr_Clear();
        }
        if (i + kClose < count) {
            PyObject** slot = _PyObject_GetDictPtr(modules[i + kClose]);
            if (slot != nullptr && *slot != nullptr && PyDict_CheckExact(*slot)) {
                auto* dict = reinterpret_cast<PyDictObject*>(*slot);
                prefetch(dict->ma_values != nullptr ? static_cast<const void*>(dict->ma_values)
                                                    : static_cast<const void*>(dict->ma_keys));
            }
            PyErr_Clear();
        }
        tables[i] = torch.own_parameters(modules[i]);
        if (tables[i] == nullptr) return false;
    }

    // Parameter dicts -> parameters, flattened with each entry's range.
    std::vector<PyObject*> parameters;
    std::vector<std::size_t> starts(count + 1, 0);
    parameters.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        if (i + kFar < count) prefetch(tables[i + kFar]);
        if (i + kNear < count) prefetch_dict_table(tables[i + kNear]);
        starts[i] = parameters.size();
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(tables[i], &pos, &key, &value)) {
            if (value != Py_None) parameters.push_back(value);
        }
    }
    starts[count] = parameters.size();
    for (std::size_t k = 0; k < parameters.size(); ++k) {
        if (k + kNear < parameters.size()) prefetch(parameters[k + kNear]);
        if (!torch.hashes_by_identity(parameters[k])) return false;
    }

    // Records -> modes; everything above is still untouched by interpreted code.
    // The map from resolve_entry_modes holds the entries' own id objects in entry
    // order: walking it alongside finds each record without hashing; any other
    // map is looked up id by id.
    std::vector<bool> dendrified(count);
    Py_ssize_t walk = 0;
    bool in_step = true;
    for (std::size_t i = 0; i < count; ++i) {
        PyObject* record = nullptr;
        PyObject* key = nullptr;
        if (in_step && !PyDict_Next(resolved.ptr(), &walk, &key, &record)) {
            in_step = false;
        }
        if (!in_step || key != ids[i].ptr()) {
            in_step = false;
            record = PyDict_GetItemWithError(resolved.ptr(), ids[i].ptr());
        }
        if (record == nullptr || !PyDict_CheckExact(record)) {
            PyErr_Clear();
            return false;
        }
        PyObject* eff = PyDict_GetItemWithError(record, n.eff);
        if (eff == nullptr || (eff != Py_None && !PyUnicode_CheckExact(eff))) {
            PyErr_Clear();
            return false;
        }
        dendrified[i] = eff != Py_None && PyUnicode_Compare(eff, n.dendrified) == 0;
    }

    // The sums, with numel() asked once per distinct parameter.
    std::vector<py::object> held(parameters.size());
    for (std::size_t k = 0; k < parameters.size(); ++k) held[k] = borrow(parameters[k]);
    ParameterSizes sizes(parameters.size());
    for (std::size_t k = 0; k < held.size(); ++k) {
        if (k + kNear < held.size()) sizes.prefetch(parameters[k + kNear]);
        sizes.count_total(held[k], budget.total);
    }
    std::vector<PyObject*> to_add;
    for (std::size_t i = 0; i < count; ++i) {
        if (dendrified[i])
            to_add.insert(to_add.end(), parameters.begin() + starts[i], parameters.begin() + starts[i + 1]);
    }
    for (std::size_t k = 0; k < to_add.size(); ++k) {
        if (k + kNear < to_add.size()) sizes.prefetch(to_add[k + kNear]);
        sizes.count_added(to_add[k], budget.added);
    }
    return true;
}

}  // namespace

py::str budget_text(const Sum& total, const Sum& added) {
    std::string share;
    if (total.exact_machine() && added.exact_machine()) {
        share = format_share(added.machine_value(), total.machine_value());
    } else {
        py::object total_value = total.value();
        py::object zero = steal(PyLong_FromLong(0));
        if (py_eq(total_value.ptr(), zero.ptr())) {
            share = "0.0";
        } else {
            py::object hundred = steal(PyFloat_FromDouble(100.0));
            py::object scaled = steal(PyNumber_Multiply(hundred.ptr(), added.value().ptr()));
            py::object ratio = steal(PyNumber_TrueDivide(scaled.ptr(), total_value.ptr()));
            share = py::cast<std::string>(format_one_decimal(ratio.ptr()));
        }
    }
    const std::string added_text = py::cast<std::string>(human_count(added));
    const std::string total_text = py::cast<std::string>(human_count(total));
    return py::str(budget_line(added_text, total_text, share));
}

py::str build_budget_line(const py::object& entries, const py::object& resolved) {
    Budget budget;
    if (!phased_budget(entries, resolved, budget)) {
        budget = sequential_budget(entries, resolved);
    }
    return budget_text(budget.total, budget.added);
}

ParameterTable::ParameterTable(const std::vector<PyObject*>& modules) {
    const Names& n = names();
    TorchAccess torch;
    OwnParameters own(torch);
    IdentityMap<int> index_of(modules.size());
    offsets_.reserve(modules.size() + 1);
    offsets_.push_back(0);
    std::vector<int> last_module;  // per parameter: the last module that listed it
    for (std::size_t m = 0; m < modules.size(); ++m) {
        for (const py::object& parameter : own.of(modules[m])) {
            auto [slot, fresh] = index_of.insert(parameter.ptr(), static_cast<int>(counts_.size()));
            const int p = *slot;
            if (fresh) {
                PyObject* stack[] = {parameter.ptr()};
                py::object size = steal(
                    PyObject_VectorcallMethod(n.numel, stack, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
                ParameterCount count;
                if (!machine_int(size.ptr(), count.machine)) {
                    count.boxed = size;
                }
                counts_.push_back(std::move(count));
                alive_.push_back(parameter);
                last_module.push_back(-1);
                total_.add(size.ptr());
            }
            if (last_module[static_cast<std::size_t>(p)] == static_cast<int>(m)) continue;
            last_module[static_cast<std::size_t>(p)] = static_cast<int>(m);
            members_.push_back(p);
        }
        offsets_.push_back(members_.size());
    }
    seen_.assign(counts_.size(), 0);
}

ParameterTable::~ParameterTable() = default;

}  // namespace nvx::target
