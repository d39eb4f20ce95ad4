// The Run settings screen's public functions over the core's run items and
// frame: the rows read from the interpreter's dictionaries, the lines given
// back as the interpreter's lists.
#pragma once

#include <pybind11/pybind11.h>

namespace nvx::configure {
namespace py = pybind11;

// `build_run_items(expanded_buckets)`.
py::list build_run_items(const py::handle& expanded_buckets);

// `render_run_settings_lines(items, selected_index, describe_name)`:
// (header, body, footer, (selected_index, selected_index + 1)).
py::tuple render_run_settings_lines(const py::handle& items, const py::handle& selected_index,
                                    const py::handle& describe_name);

}  // namespace nvx::configure
