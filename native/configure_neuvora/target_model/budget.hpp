// The dendrification budget line under the Targets tree and the compact count
// format, on interpreter values.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "common/interp.hpp"
#include "core/model/flat_map.hpp"

namespace nvx::target {
namespace py = pybind11;

// `format_human_count(value)`.
py::str format_human_count(const py::object& value);

// The budget line for the two sums.
py::str budget_text(const Sum& total, const Sum& added);

// The parameters of a fixed list of modules, read once: for every module its
// distinct own parameters (as `named_parameters(recurse=False)` yields them,
// each counted once per module), and `numel()` of every distinct parameter.
// The budget line for any choice of dendrified modules then needs no
// interpreter call.
class ParameterTable {
public:
    explicit ParameterTable(const std::vector<PyObject*>& modules);
    ~ParameterTable();

    // `build_budget_line` for modules marked in `dendrified` (one flag per module).
    template <typename IsDendrified>
    py::str line(const IsDendrified& dendrified) {
        Sum added;
        ++stamp_;
        for (std::size_t m = 0; m + 1 < offsets_.size(); ++m) {
            if (!dendrified(m)) continue;
            for (std::size_t k = offsets_[m]; k < offsets_[m + 1]; ++k) {
                const int p = members_[k];
                if (seen_[static_cast<std::size_t>(p)] == stamp_) continue;
                seen_[static_cast<std::size_t>(p)] = stamp_;
                const ParameterCount& count = counts_[static_cast<std::size_t>(p)];
                if (count.boxed) {
                    added.add(count.boxed.ptr());
                } else {
                    added.add(count.machine);
                }
            }
        }
        return budget_text(total_, added);
    }

    // Who holds the parameters that more than one module holds (a module listed
    // under two paths counts as two holders).
    struct Sharing {
        // Shared tensor s is held by holders[offsets[s] .. offsets[s + 1]), in module order.
        std::vector<std::size_t> offsets{0};
        std::vector<int> holders;
        // Per module, the earlier module holding the first of its parameters when
        // earlier modules hold all of them, else -1; empty when nothing is shared.
        std::vector<int> owner_of_all;
    };
    const Sharing& sharing() const { return sharing_; }
    int owner_of_all(std::size_t module) const {
        return sharing_.owner_of_all.empty() ? -1 : sharing_.owner_of_all[module];
    }

    // True when one of the modules holds `parameter` (by identity).
    bool holds(PyObject* parameter) const { return index_of_.find(parameter) != nullptr; }

private:
    void find_sharing();

    struct ParameterCount {
        std::int64_t machine = 0;
        py::object boxed;  // set when the count is not a machine integer
    };
    std::vector<std::size_t> offsets_;  // module m owns members_[offsets_[m] .. offsets_[m + 1])
    std::vector<int> members_;          // indices into counts_
    std::vector<ParameterCount> counts_;
    std::vector<py::object> alive_;  // the parameters: identities stay unique while they live
    std::vector<unsigned> seen_;
    unsigned stamp_ = 0;
    Sum total_;
    IdentityMap<int> index_of_;  // parameter -> index into counts_
    Sharing sharing_;
};

// `build_budget_line(entries, resolved)`, also on a table already built for the entries.
class EntryTable;
py::str build_budget_line(const py::object& entries, const py::object& resolved);
py::str build_budget_line(EntryTable& table, const py::object& resolved);

}  // namespace nvx::target
