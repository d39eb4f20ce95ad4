#include "resize_signal.hpp"

#include "common/functions.hpp"

namespace nvx::configure {
namespace {

// What the handler raises to end a wait for a key.
PyObject* resized_type() {
    static PyObject* type = new_signal_exception("TerminalResized");
    return type;
}

// Handlers run on the main thread only, between bytecodes, so plain values do.
bool g_waiting = false;
bool g_noted = false;

py::object handler() {
    static PyObject* function = new_signal_handler("_terminal_resized", [](Args&) -> py::object {
        if (!g_waiting) {
            g_noted = true;
            return py::none();
        }
        g_waiting = false;
        PyErr_SetNone(resized_type());
        throw py::error_already_set();
    });
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
