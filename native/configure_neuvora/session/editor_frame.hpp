// The inline editors' frame as the session sees it.
#pragma once

#include <pybind11/pybind11.h>

namespace nvx::configure {
namespace py = pybind11;

// Terminal rows the frame `_render_editor_frame(state)` draws takes.
long long editor_frame_rows(const py::object& state);

}  // namespace nvx::configure
