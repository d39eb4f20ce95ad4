#include "budget.hpp"

#include <cstdint>
#include <vector>

#include "common/interp.hpp"
#include "common/torch_calls.hpp"
#include "core/model/flat_map.hpp"
#include "core/text/human_count.hpp"
#include "entry_table.hpp"
#include "names.hpp"
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
    return truthy(result.ptr());
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
        py::object iterator = iterate_named_parameters(method.ptr(), false);
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

}  // namespace

py::str format_human_count(const py::object& value) {
    std::int64_t machine = 0;
    if (machine_int(value.ptr(), machine)) {
        return py::str(target::format_human_count(machine));
    }
    return human_count_of_object(value.ptr());
}

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
    std::unique_ptr<EntryTable> scratch;
    return build_budget_line(EntryTable::for_entries(entries, scratch), resolved);
}

py::str build_budget_line(EntryTable& table, const py::object& resolved) {
    const Names& n = names();
    return table.budget_line([&](std::size_t i) {
        py::object record = get_item(resolved.ptr(), table.field(i, Field::Id).ptr());
        return py_eq(get_item(record.ptr(), n.eff).ptr(), n.dendrified);
    });
}

ParameterTable::ParameterTable(const std::vector<PyObject*>& modules) {
    // At a hundred thousand modules the work is mostly waiting for memory: each
    // step runs over all modules and asks the cache for the objects a few steps
    // ahead (addresses already in hand) before it reads the current one.
    constexpr std::size_t kAhead = 16;
    const std::size_t count = modules.size();
    TorchAccess torch;
    OwnParameters own(torch);

    // Modules -> every module's own parameters, flattened, held until the end.
    std::vector<py::object> listed;
    listed.reserve(count * 2);
    std::vector<std::size_t> starts(count + 1, 0);
    for (std::size_t m = 0; m < count; ++m) {
        if (m + kAhead < count) __builtin_prefetch(modules[m + kAhead]);
        starts[m] = listed.size();
        for (const py::object& parameter : own.of(modules[m])) listed.push_back(parameter);
    }
    starts[count] = listed.size();

    // Parameters -> distinct parameters with their numel(), asked once each.
    index_of_ = IdentityMap<int>(listed.size());
    std::vector<int> slot_of(listed.size());
    for (std::size_t k = 0; k < listed.size(); ++k) {
        if (k + kAhead < listed.size()) __builtin_prefetch(listed[k + kAhead].ptr());
        PyObject* parameter = listed[k].ptr();
        auto [slot, fresh] = index_of_.insert(parameter, static_cast<int>(counts_.size()));
        slot_of[k] = *slot;
        if (!fresh) continue;
        py::object size = numel_of(parameter);
        ParameterCount parameter_count;
        if (!machine_int(size.ptr(), parameter_count.machine)) parameter_count.boxed = size;
        counts_.push_back(std::move(parameter_count));
        alive_.push_back(listed[k]);  // identities stay unique while the parameters live
        total_.add(size.ptr());
    }

    // Each module's distinct parameters.
    std::vector<int> last_module(counts_.size(), -1);
    offsets_.reserve(count + 1);
    offsets_.push_back(0);
    for (std::size_t m = 0; m < count; ++m) {
        for (std::size_t k = starts[m]; k < starts[m + 1]; ++k) {
            const int p = slot_of[k];
            if (last_module[static_cast<std::size_t>(p)] == static_cast<int>(m)) continue;
            last_module[static_cast<std::size_t>(p)] = static_cast<int>(m);
            members_.push_back(p);
        }
        offsets_.push_back(members_.size());
    }
    seen_.assign(counts_.size(), 0);
    find_sharing();
}

void ParameterTable::find_sharing() {
    const std::size_t modules = offsets_.size() - 1;
    std::vector<int> first_holder(counts_.size(), -1);
    std::vector<int> holder_count(counts_.size(), 0);
    bool any = false;
    for (std::size_t m = 0; m < modules; ++m) {
        for (std::size_t k = offsets_[m]; k < offsets_[m + 1]; ++k) {
            const auto p = static_cast<std::size_t>(members_[k]);
            if (first_holder[p] < 0) first_holder[p] = static_cast<int>(m);
            any |= ++holder_count[p] == 2;
        }
    }
    if (!any) return;

    sharing_.owner_of_all.assign(modules, -1);
    for (std::size_t m = 0; m < modules; ++m) {
        if (offsets_[m] == offsets_[m + 1]) continue;
        bool all_earlier = true;
        for (std::size_t k = offsets_[m]; k < offsets_[m + 1] && all_earlier; ++k) {
            all_earlier = first_holder[static_cast<std::size_t>(members_[k])] < static_cast<int>(m);
        }
        if (all_earlier)
            sharing_.owner_of_all[m] = first_holder[static_cast<std::size_t>(members_[offsets_[m]])];
    }

    // Shared tensors in the order they were first met, each with its holders.
    std::vector<int> slot(counts_.size(), -1);
    for (std::size_t p = 0; p < counts_.size(); ++p) {
        if (holder_count[p] < 2) continue;
        slot[p] = static_cast<int>(sharing_.offsets.size() - 1);
        sharing_.offsets.push_back(sharing_.offsets.back() + static_cast<std::size_t>(holder_count[p]));
    }
    sharing_.holders.assign(sharing_.offsets.back(), -1);
    std::vector<std::size_t> next(sharing_.offsets.begin(), sharing_.offsets.end() - 1);
    for (std::size_t m = 0; m < modules; ++m) {
        for (std::size_t k = offsets_[m]; k < offsets_[m + 1]; ++k) {
            const int s = slot[static_cast<std::size_t>(members_[k])];
            if (s >= 0) sharing_.holders[next[static_cast<std::size_t>(s)]++] = static_cast<int>(m);
        }
    }
}

ParameterTable::~ParameterTable() = default;

}  // namespace nvx::target
