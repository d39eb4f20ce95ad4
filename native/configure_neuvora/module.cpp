// Module init of neuvora.configure_neuvora: the imports and the names they
// bind, then every constant and function. Nothing is read and the terminal is
// not touched at load time.
#include <pybind11/pybind11.h>

#include "common/module_namespace.hpp"
#include "registry.hpp"

namespace py = pybind11;
using namespace nvx::configure;

namespace {

// `import name`, binding None when the import raises an error of `family`.
py::object import_or_none(const char* name, PyObject* family) {
    try {
        return py::module_::import(name);
    } catch (py::error_already_set& e) {
        if (!e.matches(family)) {
            throw;
        }
        return py::none();
    }
}

}  // namespace

PYBIND11_MODULE(configure_neuvora, m) {
    nvx::bind_module_namespace(m);
    for (const char* name : {"sys", "shutil", "json", "os", "select", "re"}) {
        m.attr(name) = py::module_::import(name);
    }
    // termios and tty are bound together: both None when either import fails.
    try {
        py::object termios = py::module_::import("termios");
        py::object tty = py::module_::import("tty");
        m.attr("termios") = termios;
        m.attr("tty") = tty;
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_ImportError)) {
            throw;
        }
        m.attr("termios") = py::none();
        m.attr("tty") = py::none();
    }
    m.attr("GNV") = py::module_::import("neuvora.globals_neuvora");
    m.attr("torch") = import_or_none("torch", PyExc_Exception);

    register_styling(m);
    register_key_input(m);
    register_session_guard(m);
    register_screen_layout(m);
    register_module_entries(m);
    register_mode_rules(m);
    register_rule_editing(m);
    register_budget(m);
    register_target_plan(m);
    register_descriptions(m);
    register_setting_values(m);
    register_overrides(m);
    register_save_target(m);
    register_targets_screen(m);
    register_run_screen(m);
    register_overlays(m);
    register_overrides_overlay(m);
    register_editors(m);
    register_session(m);
}
