// Threaded forward calls waiting on their workers.
//
// A threaded forward hands each worker the same output list. While the forward
// waits for its workers, the list is registered here together with the
// caller's torch thread settings. A worker reached with a registered list runs
// under those settings (grad mode, inference mode and the intra-op thread count
// are per thread in torch; a new thread starts with grad enabled and the default
// thread count), and records an exception it raises under the list instead of
// letting the thread die with it; the forward raises it in the caller once every
// worker is joined. Every access happens with the GIL held.
#pragma once

#include <pybind11/pybind11.h>

#include <functional>

namespace nvx::clean {
namespace py = pybind11;

// Registers `outputs` with the calling thread's torch settings for the
// lifetime of the scope.
class ThreadedCall {
public:
    explicit ThreadedCall(py::handle outputs);
    ~ThreadedCall();
    ThreadedCall(const ThreadedCall&) = delete;
    ThreadedCall& operator=(const ThreadedCall&) = delete;

    // Raises the recorded failure of the lowest slot, if any worker failed.
    void raise_recorded();

private:
    PyObject* outputs_;
};

// Runs `work`, which fills `slot` of `outputs`. Without a threaded call waiting
// on `outputs` this is a plain call. Otherwise `work` runs under the caller's
// torch thread settings and a failure is recorded for the caller instead of raised.
void run_slot_work(py::handle outputs, Py_ssize_t slot, const std::function<void()>& work);

}  // namespace nvx::clean
