// Python-level signal handlers that a session installs for its own duration,
// with the caller's handler remembered and put back afterwards.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>

#include "common/functions.hpp"

namespace nvx::configure {
namespace py = pybind11;

// The caller's handler of one signal, to put back.
struct SavedHandler {
    py::object number;
    py::object previous;
};

// Installs `handler` for the signal `name` of the `signal` module and returns
// what to put back; none off the main thread (where handlers cannot be set),
// where the platform has no such signal, or, with `keep_ignored`, where the
// caller ignores it.
std::optional<SavedHandler> install_handler(const char* name, const py::object& handler, bool keep_ignored);

// Puts the caller's handler back.
void restore_handler(const SavedHandler& saved);

// A new exception class `neuvora.configure_neuvora.<name>` for a handler to
// raise. Derived from BaseException, so that no `except Exception` in a
// callback or a replaced key reader takes it for an error of its own.
PyObject* new_signal_exception(const char* name);

// A handler function `name(signum, frame)` running `body`; meant to be kept
// for the life of the process (never destroyed after the interpreter is gone).
PyObject* new_signal_handler(const char* name, Body body);

}  // namespace nvx::configure
