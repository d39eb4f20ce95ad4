// Run setting values on the configuration object GNV.pc: reading through the
// getter or a plain attribute, display texts, the two enumerated settings,
// parsing typed text and writing through the setter or a plain attribute.
#pragma once

#include <pybind11/pybind11.h>

namespace nvx::configure {
namespace py = pybind11;

py::object get_global_setting_value(const py::handle& setting_name);
py::dict get_all_global_parameters();
py::object format_setting_value(const py::handle& value);
py::object format_run_setting_value(const py::handle& setting_name, const py::handle& value);
py::list switch_mode_values();
// A new list of the options of an enumerated setting, or None.
py::object get_enum_options(const py::handle& setting_name);
py::object cycle_enum_setting(const py::handle& setting_name, const py::handle& current_value);
py::tuple apply_setting_value(const py::handle& setting_name, const py::handle& value);
py::object parse_value_from_text(const py::handle& text, const py::handle& sample_value);

// The position of the first option equal to `value`, or -1.
Py_ssize_t option_index(const py::list& options, const py::handle& value);

}  // namespace nvx::configure
