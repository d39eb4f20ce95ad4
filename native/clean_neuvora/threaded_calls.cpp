#include "threaded_calls.hpp"

#include <optional>
#include <unordered_map>
#include <utility>

#include "common/interp.hpp"
#include "module_globals.hpp"

namespace nvx::clean {
namespace {

struct Modes {
    bool inference = false;
    bool grad = true;
    py::object threads;  // torch.get_num_threads()
};

struct Waiting {
    Modes modes;
    Py_ssize_t slot = 0;
    std::optional<py::error_already_set> error;
};

// Keyed by the identity of the output list of the waiting forward call.
std::unordered_map<PyObject*, Waiting>& waiting() {
    static auto* table = new std::unordered_map<PyObject*, Waiting>();
    return *table;
}

Modes current_modes() {
    py::object torch = module_global(Global::Torch);
    return Modes{truthy(torch.attr("is_inference_mode_enabled")()), truthy(torch.attr("is_grad_enabled")()),
                 torch.attr("get_num_threads")()};
}

// The intra-op thread count is kept per thread for the math libraries: a new
// thread would otherwise start its own pool of the default size on its first
// matrix product (costly, and oversubscribing when the caller asked for fewer).
void adopt_thread_count(const py::object& wanted) {
    py::object torch = module_global(Global::Torch);
    if (!nvx::equals(torch.attr("get_num_threads")(), wanted)) {
        torch.attr("set_num_threads")(wanted);
    }
}

// A context manager that switches this thread's autograd modes to `wanted`, or a null object
// when the thread already runs under it.
py::object mode_switch(const Modes& wanted) {
    const Modes here = current_modes();
    if (here.inference != wanted.inference) {
        return module_global(Global::Torch).attr("inference_mode")(wanted.inference);
    }
    if (!wanted.inference && here.grad != wanted.grad) {
        return module_global(Global::Torch).attr("set_grad_enabled")(wanted.grad);
    }
    return py::object();
}

bool record(py::handle outputs, Py_ssize_t slot, const py::error_already_set& error) {
    auto found = waiting().find(outputs.ptr());
    if (found == waiting().end()) {
        return false;
    }
    Waiting& entry = found->second;
    if (!entry.error || slot < entry.slot) {
        entry.slot = slot;
        entry.error.emplace(error);
    }
    return true;
}

}  // namespace

ThreadedCall::ThreadedCall(py::handle outputs) : outputs_(outputs.ptr()) {
    Waiting entry;
    entry.modes = current_modes();
    waiting()[outputs_] = std::move(entry);
}

ThreadedCall::~ThreadedCall() {
    waiting().erase(outputs_);
}

void ThreadedCall::raise_recorded() {
    auto found = waiting().find(outputs_);
    if (found == waiting().end() || !found->second.error) {
        return;
    }
    py::error_already_set error = std::move(*found->second.error);
    waiting().erase(found);
    throw error;
}

void run_slot_work(py::handle outputs, Py_ssize_t slot, const std::function<void()>& work) {
    auto found = waiting().find(outputs.ptr());
    if (found == waiting().end()) {
        work();
        return;
    }
    const Modes caller = found->second.modes;  // the table may change while `work` runs
    py::object modes;
    bool entered = false;
    try {
        adopt_thread_count(caller.threads);
        modes = mode_switch(caller);
        if (modes) {
            modes.attr("__enter__")();
            entered = true;
        }
        work();
        if (entered) {
            entered = false;
            modes.attr("__exit__")(py::none(), py::none(), py::none());
        }
    } catch (py::error_already_set& error) {
        if (entered) {
            PyObject* left = PyObject_CallMethod(modes.ptr(), "__exit__", "OOO", Py_None, Py_None, Py_None);
            if (left == nullptr) {
                PyErr_Clear();
            }
            Py_XDECREF(left);
        }
        if (!record(outputs, slot, error)) {
            throw;
        }
    }
}

}  // namespace nvx::clean
