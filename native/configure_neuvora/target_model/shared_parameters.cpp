// What the engine tells about parameter tensors that are not one module's
// alone: tensors held by several rows (tied weights, a module listed under two
// paths) and the parameters the model object holds itself, outside every row.
#include <algorithm>
#include <tuple>

#include "common/interp.hpp"
#include "common/torch_calls.hpp"
#include "entry_table.hpp"
#include "names.hpp"

namespace nvx::target {

ParameterTable* EntryTable::readable_parameters() {
    if (parameters_) return parameters_.get();
    if (parameters_unreadable_) return nullptr;
    try {
        return &parameters();
    } catch (py::error_already_set& error) {
        if (!error.matches(PyExc_Exception)) throw;
        parameters_unreadable_ = true;
        return nullptr;
    }
}

int EntryTable::shared_owner(std::size_t index) {
    const ParameterTable* table = readable_parameters();
    return table != nullptr ? table->owner_of_all(index) : -1;
}

int EntryTable::shared_owner_of(PyObject* entry) {
    const ParameterTable* table = readable_parameters();
    if (table == nullptr || table->sharing().owner_of_all.empty()) return -1;
    if (!position_of_) {
        position_of_ = std::make_unique<IdentityMap<int>>(entry_objects_.size());
        for (std::size_t i = 0; i < entry_objects_.size(); ++i)
            position_of_->insert(entry_objects_[i], static_cast<int>(i));
    }
    const int* position = position_of_->find(entry);
    return position != nullptr ? table->owner_of_all(static_cast<std::size_t>(*position)) : -1;
}

SharedConflicts EntryTable::shared_conflicts(const std::function<Mode(std::size_t)>& mode_of) {
    SharedConflicts out;
    const ParameterTable* table = readable_parameters();
    if (table == nullptr) return out;
    const ParameterTable::Sharing& sharing = table->sharing();
    // Every holder is compared with the tensor's first holder: each one that
    // disagrees is a conflict of its own to list.
    for (std::size_t s = 0; s + 1 < sharing.offsets.size(); ++s) {
        const auto owner = static_cast<std::size_t>(sharing.holders[sharing.offsets[s]]);
        const Mode owner_mode = mode_of(owner);
        bool in_conflict = false;
        for (std::size_t k = sharing.offsets[s] + 1; k < sharing.offsets[s + 1]; ++k) {
            const auto row = static_cast<std::size_t>(sharing.holders[k]);
            if (row == owner) continue;
            const Mode row_mode = mode_of(row);
            if (row_mode == owner_mode) continue;
            in_conflict = true;
            out.pairs.push_back(SharedConflict{row, owner, row_mode, owner_mode, 1});
        }
        out.tensors += in_conflict ? 1 : 0;
    }
    const auto key = [](const SharedConflict& c) { return std::make_tuple(c.row, c.owner); };
    std::stable_sort(out.pairs.begin(), out.pairs.end(),
                     [&](const SharedConflict& a, const SharedConflict& b) { return key(a) < key(b); });
    std::vector<SharedConflict> merged;
    for (const SharedConflict& pair : out.pairs) {
        if (!merged.empty() && key(merged.back()) == key(pair)) {
            merged.back().tensors += pair.tensors;
        } else {
            merged.push_back(pair);
        }
    }
    out.pairs = std::move(merged);
    return out;
}

const UnreachedParameters* EntryTable::unreached_parameters() {
    if (unreached_known_) return unreached_.get();
    unreached_known_ = true;
    if (!model_) return nullptr;
    const Names& n = names();
    py::object method = attribute_if_present(model_.ptr(), n.named_parameters);
    const ParameterTable* table = method ? readable_parameters() : nullptr;
    if (table == nullptr) return nullptr;
    py::object iterator = iterate_named_parameters(method.ptr(), false);
    auto found = std::make_unique<UnreachedParameters>();
    while (PyObject* item = PyIter_Next(iterator.ptr())) {
        py::object pair = steal(item);
        auto [name, parameter] = unpack_pair(pair.ptr());
        if (table->holds(parameter.ptr())) continue;  // a row holds it too: its rules reach it
        py::object count = numel_of(parameter.ptr());
        found->names.push_back(name);
        found->elements.add(count.ptr());
    }
    if (PyErr_Occurred()) throw py::error_already_set();
    if (!found->names.empty()) unreached_ = std::move(found);
    return unreached_.get();
}

}  // namespace nvx::target
