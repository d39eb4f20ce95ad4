// What the Targets screen's bindings share with the session: frame lines as
// interpreter strings, and the type-rules and save overlays' registration.
#pragma once

#include <pybind11/pybind11.h>

#include <vector>

#include "core/layout/frame.hpp"

namespace nvx::configure {
namespace py = pybind11;

py::list frame_lines(const std::vector<layout::FrameLine>& lines);

// `render_type_rules_overlay` and `render_save_overlay`.
void register_targets_overlays(py::module_& m);

}  // namespace nvx::configure
