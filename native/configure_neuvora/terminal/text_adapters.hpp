// What the terminal layer's bindings share: the terminal's size read through
// its seam, and visible widths of screen lines given as interpreter values.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>

#include "core/layout/frame.hpp"

namespace nvx::configure {
namespace py = pybind11;

// `terminal_size()` through the seam, as columns and lines.
layout::TerminalSize read_terminal_size();

// The compiled `ANSI_ESCAPE_RE`, made on first use and kept for the life of
// the process; the module attribute is set from it, never read back.
const py::object& ansi_escape_pattern();

// Visible width of a screen line. A value that is not text fails as
// `strip_ansi` fails for it: with the pattern's own error.
std::size_t visible_width_of(const py::handle& line);

}  // namespace nvx::configure
