// `!` on the Targets screen: the selection moves to the next module, in tree
// order and wrapping, that still needs a mode, so the footer's count can be
// worked down without scrolling.
#include <algorithm>
#include <unordered_map>
#include <vector>

#include "common/module_namespace.hpp"
#include "session.hpp"

namespace nvx::configure {

std::vector<int> Session::unset_positions() {
    std::vector<int> positions;
    target::SessionModel& entry_table = table();
    if (resolved_natively_) return entry_table.unset_rows();
    // The module's own function decides; its entries are found in the table by identity.
    py::list unset = call_global("unset_module_entries", entries_, resolved());
    std::unordered_map<PyObject*, int> position_of;
    for (std::size_t i = 0; i < entry_table.size(); ++i) {
        position_of.emplace(entry_table.entry(i).ptr(), static_cast<int>(i));
    }
    for (const py::handle entry : unset) {
        auto found = position_of.find(entry.ptr());
        if (found != position_of.end()) positions.push_back(found->second);
    }
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    return positions;
}

void Session::select_next_unset() {
    const std::vector<int> unset = unset_positions();
    if (unset.empty()) {
        status_message_ = py::str("no module needs a mode");
        return;
    }
    target::SessionModel& entry_table = table();
    std::vector<int> shown = entry_table.visible(expanded_replaced_);
    const int current = target_selected_index_ < static_cast<Py_ssize_t>(shown.size())
                            ? shown[static_cast<std::size_t>(target_selected_index_)]
                            : -1;
    auto next = std::upper_bound(unset.begin(), unset.end(), current);
    if (next == unset.end()) next = unset.begin();
    const auto position = static_cast<std::size_t>(*next);

    // A module inside a collapsed restructured one is shown by expanding it.
    if (entry_table.table().inside_replaced(position)) {
        expanded_replaced_[entry_table.oracle().object_of(
            entry_table.table().replaced_roots.values[position])] = py::bool_(true);
        shown = entry_table.visible(expanded_replaced_);
    }
    auto row = std::lower_bound(shown.begin(), shown.end(), *next);
    if (row != shown.end() && *row == *next) target_selected_index_ = row - shown.begin();

    const std::size_t k = static_cast<std::size_t>(next - unset.begin()) + 1;
    const std::size_t n = unset.size();
    status_message_ = py::str(std::to_string(k) + " of " + std::to_string(n) +
                              (n == 1 ? " module that needs a mode" : " modules that need a mode"));
}

}  // namespace nvx::configure
