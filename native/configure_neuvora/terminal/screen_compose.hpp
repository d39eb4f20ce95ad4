// The scrolling screen composition of `compose_scrolling_screen` over a body
// whose lines are produced on demand: only the lines the window logic looks at
// are ever asked for, so a frame costs the window's size, not the body's.
#pragma once

#include <pybind11/pybind11.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "core/layout/screen_layout.hpp"

namespace nvx::configure {
namespace py = pybind11;

// Body line `index` (0 <= index < count); the reference stays valid for the call.
using BodyLine = std::function<const std::u32string&(long long index)>;

// `compose_scrolling_screen(header_lines, body, footer_lines, window_start, focus)`
// for a body of `count` lines. Header and footer lines must be exact str.
// Returns the screen text and the window start used.
std::pair<py::str, long long> compose_lazy_screen(const py::list& header_lines, long long count,
                                                  const BodyLine& body_line, const py::list& footer_lines,
                                                  long long window_start,
                                                  const std::optional<layout::Focus>& focus);

}  // namespace nvx::configure
