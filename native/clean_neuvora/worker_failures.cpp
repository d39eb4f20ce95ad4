#include "worker_failures.hpp"

#include <optional>
#include <unordered_map>
#include <utility>

namespace nvx::clean {
namespace {

struct Recorded {
    Py_ssize_t slot = 0;
    std::optional<py::error_already_set> error;
};

// Keyed by the identity of the output list of the waiting forward call.
std::unordered_map<PyObject*, Recorded>& waiting() {
    static auto* table = new std::unordered_map<PyObject*, Recorded>();
    return *table;
}

}  // namespace

WorkerFailureScope::WorkerFailureScope(py::handle outputs) : outputs_(outputs.ptr()) {
    waiting()[outputs_] = Recorded{};
}

WorkerFailureScope::~WorkerFailureScope() {
    waiting().erase(outputs_);
}

void WorkerFailureScope::raise_recorded() {
    auto found = waiting().find(outputs_);
    if (found == waiting().end() || !found->second.error) {
        return;
    }
    py::error_already_set error = std::move(*found->second.error);
    waiting().erase(found);
    throw error;
}

bool record_worker_failure(py::handle outputs, Py_ssize_t slot, const py::error_already_set& error) {
    auto found = waiting().find(outputs.ptr());
    if (found == waiting().end()) {
        return false;
    }
    Recorded& recorded = found->second;
    if (!recorded.error || slot < recorded.slot) {
        recorded.slot = slot;
        recorded.error = error;
    }
    return true;
}

}  // namespace nvx::clean
