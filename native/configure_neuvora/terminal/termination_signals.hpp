// SIGTERM and SIGHUP during a session. While a session runs on the main thread,
// either signal raises an exception that unwinds through the session's normal
// teardown (terminal restored, persistence flag restored). Afterwards the
// caller's own handlers are back in place and the signal is delivered again, so
// the process ends with that signal's usual status.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <vector>

#include "signal_handlers.hpp"

namespace nvx::configure {
namespace py = pybind11;

class TerminationSignals {
public:
    // Installs the handlers; does nothing off the main thread, and leaves a
    // signal the caller ignores ignored.
    void install();
    // From now on our handlers only note a signal instead of raising, so that
    // the teardown that restores the terminal cannot be cut short.
    void defer();
    // Puts the caller's handlers back; returns a signal noted while deferred.
    std::optional<int> restore();
    // The signal number when `error` was raised by one of our handlers.
    static std::optional<int> signal_of(const py::error_already_set& error);
    // Delivers `signum` to the process under the caller's handlers; returns
    // when the caller's handler carries on.
    static void deliver(int signum);
    // Delivers `signum` again; if the caller's handler carries on, exits with
    // the status a shell reports for that signal.
    [[noreturn]] static void redeliver(int signum);

private:
    std::vector<SavedHandler> previous_;
};

}  // namespace nvx::configure
