// Failures of worker threads, kept per forward call.
//
// A threaded forward hands each worker the same output list. While the forward
// waits for its workers, the list is registered here; a worker that raises
// records its exception under the list instead of letting the thread die with
// it, and the forward raises it in the caller once every worker is joined.
// Every access happens with the GIL held.
#pragma once

#include <pybind11/pybind11.h>

namespace nvx::clean {
namespace py = pybind11;

// Registers `outputs` for the lifetime of the scope.
class WorkerFailureScope {
public:
    explicit WorkerFailureScope(py::handle outputs);
    ~WorkerFailureScope();
    WorkerFailureScope(const WorkerFailureScope&) = delete;
    WorkerFailureScope& operator=(const WorkerFailureScope&) = delete;

    // Raises the recorded failure of the lowest slot, if any worker failed.
    void raise_recorded();

private:
    PyObject* outputs_;
};

// Records `error` raised while filling `slot` of `outputs`; false when no
// threaded forward is waiting on `outputs` (the caller then lets it propagate).
bool record_worker_failure(py::handle outputs, Py_ssize_t slot, const py::error_already_set& error);

}  // namespace nvx::clean
