#include "termination_signals.hpp"

#include <stdexcept>
#include <utility>

#include "common/functions.hpp"
#include "configure_neuvora/seams.hpp"
#include "signal_handlers.hpp"

namespace nvx::configure {
namespace {

// The exception our handlers raise.
PyObject* terminated_type() {
    static PyObject* type = new_signal_exception("TerminatedBySignal");
    return type;
}

// Handlers run on the main thread only, between bytecodes, so plain values do.
bool g_deferring = false;
std::optional<int> g_noted_signal;

py::object terminate_handler() {
    static PyObject* function = new_signal_handler("_terminate_session", [](Args& a) -> py::object {
        if (g_deferring) {
            if (!g_noted_signal) g_noted_signal = py::cast<int>(a[0]);
            return py::none();
        }
        PyErr_SetObject(terminated_type(), a[0].ptr());
        throw py::error_already_set();
    });
    return py::reinterpret_borrow<py::object>(function);
}

}  // namespace

void TerminationSignals::install() {
    for (const char* name : {"SIGTERM", "SIGHUP"}) {
        if (auto saved = install_handler(name, terminate_handler(), /*keep_ignored=*/true))
            previous_.push_back(*saved);
    }
}

void TerminationSignals::defer() {
    if (!previous_.empty()) g_deferring = true;
}

std::optional<int> TerminationSignals::restore() {
    if (previous_.empty()) return std::nullopt;
    for (const SavedHandler& saved : previous_) restore_handler(saved);
    previous_.clear();
    g_deferring = false;
    return std::exchange(g_noted_signal, std::nullopt);
}

std::optional<int> TerminationSignals::signal_of(const py::error_already_set& error) {
    if (!error.matches(terminated_type())) return std::nullopt;
    py::object args = error.value().attr("args");
    return py::cast<int>(args[py::int_(0)]);
}

void TerminationSignals::deliver(int signum) {
    py::module_ os = py::module_::import("os");
    os.attr("kill")(os.attr("getpid")(), signum);
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
}

void TerminationSignals::redeliver(int signum) {
    deliver(signum);
    // The caller's handler chose to carry on: leave as a shell would report the signal.
    seam(Seam::Sys).attr("exit")(128 + signum);
    throw std::logic_error("sys.exit returned");
}

}  // namespace nvx::configure
