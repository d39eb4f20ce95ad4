// Terminal size changes (SIGWINCH) during a session. While the session waits
// for a key, a change interrupts the wait: our handler raises an exception
// inside the key read, the session gets no key and draws the frame again for
// the new size. At any other time the change is only noted, and the session
// draws again before it waits. A resize is never a key.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>

#include "signal_handlers.hpp"

namespace nvx::configure {
namespace py = pybind11;

class ResizeSignal {
public:
    // Installs the handler; does nothing off the main thread or where the
    // platform has no such signal.
    void install();
    // Puts the caller's handler back.
    void restore();

private:
    std::optional<SavedHandler> saved_;  // while installed
};

namespace resize {

// While it lives, a resize interrupts the key read that the session makes.
class KeyWait {
public:
    KeyWait();
    ~KeyWait();
    KeyWait(const KeyWait&) = delete;
    KeyWait& operator=(const KeyWait&) = delete;

    // Runs the signal handlers due now, so a resize that came in just before
    // the wait ends it at once.
    void check_now();
};

// The key reader got the first byte of a key: from now on a resize only
// notes itself, so a key is never cut in half.
void key_started();

// True once after a resize was noted since the last call.
bool take_noted();

// True when `error` is the interruption of a key wait by a resize.
bool interrupted(const py::error_already_set& error);

}  // namespace resize
}  // namespace nvx::configure
