#include "resize_signal.hpp"

#include "common/glue.hpp"

namespace nvx::configure {
namespace {

// Derived from BaseException, so that no `except Exception` in a replaced key
// reader takes it for an error of its own.
PyObject* resized_type() {
    static PyObject* type =
        PyErr_NewException("neuvora.configure_neuvora.TerminalResized", PyExc_BaseException, nullptr);
    return type;
}

// Handlers run on the main thread only, between bytecodes, so plain values do.
bool g_waiting = false;
bool g_noted = false;

py::object handler() {
    // Kept for the life of the process (never destroyed after the interpreter is gone).
    static PyObject* function = make_function("_terminal_resized", {"signum", "frame"}, nullptr,
                                              [](Args&) -> py::object {
                                                  if (!g_waiting) {
                                                      g_noted = true;
                                                      return py::none();
                                                  }
                                                  g_waiting = false;
                                                  PyErr_SetNone(resized_type());
                                                  throw py::error_already_set();
                                              })
                                    .release()
                                    .ptr();
    return py::reinterpret_borrow<py::object>(function);
}

}  // namespace

void ResizeSignal::install() {
    saved_ = install_handler("SIGWINCH", handler(), /*keep_ignored=*/false);
    g_noted = false;
}

void ResizeSignal::restore() {
    if (!saved_) return;
    restore_handler(*saved_);
    saved_.reset();
    g_noted = false;
}

namespace resize {

KeyWait::KeyWait() {
    g_waiting = true;
}

KeyWait::~KeyWait() {
    g_waiting = false;
}

void KeyWait::check_now() {
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
}

void key_started() {
    g_waiting = false;
}

bool take_noted() {
    const bool noted = g_noted;
    g_noted = false;
    return noted;
}

bool interrupted(const py::error_already_set& error) {
    return error.matches(resized_type());
}

}  // namespace resize
}  // namespace nvx::configure
