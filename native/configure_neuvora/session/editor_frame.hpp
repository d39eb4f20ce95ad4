// The inline editors' frame as the session draws it.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace nvx::configure {
namespace py = pybind11;

// Clears the screen and prints the frame of the editor `state` (a state
// dictionary), with `notice` under it when the terminal has the room.
void draw_editor_frame(const py::object& state, const std::u32string& notice);

}  // namespace nvx::configure
