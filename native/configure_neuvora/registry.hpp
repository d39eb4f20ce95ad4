// Each concern of the interface module defines its Python-visible names in one
// register function; the module init calls them in dependency order.
#pragma once

#include <pybind11/pybind11.h>

namespace nvx::configure {
namespace py = pybind11;

// Terminal layer.
void register_styling(py::module_& m);
void register_key_input(py::module_& m);
void register_session_guard(py::module_& m);
void register_screen_layout(py::module_& m);

// Target model.
void register_module_entries(py::module_& m);
void register_mode_rules(py::module_& m);
void register_rule_editing(py::module_& m);
void register_budget(py::module_& m);
void register_target_plan(py::module_& m);

// Run settings data.
void register_descriptions(py::module_& m);
void register_setting_values(py::module_& m);

// Overrides and persistence.
void register_overrides(py::module_& m);
void register_save_target(py::module_& m);

// Screens and overlays.
void register_targets_screen(py::module_& m);
void register_targets_overlays(py::module_& m);
void register_run_screen(py::module_& m);
void register_overlays(py::module_& m);
void register_overrides_overlay(py::module_& m);

// Session driver.
void register_editors(py::module_& m);
void register_session(py::module_& m);

}  // namespace nvx::configure
