#include "scopes.hpp"

#include "common/interp.hpp"
#include "common/module_namespace.hpp"
#include "configure_neuvora/target_model/override_scopes.hpp"

namespace nvx::overrides {

py::tuple override_scope_for_entry(const py::handle& entry, const py::handle& resolved) {
    return target::override_scope_for_entry(entry, resolved);
}

py::dict scope_values(const py::handle& scope_key, const py::handle& module_settings_overrides,
                      const py::handle& existing_module_settings) {
    py::dict merged;
    for (const py::handle& source : {existing_module_settings, module_settings_overrides}) {
        if (contains(source, scope_key)) {
            merged.attr("update")(source[scope_key]);
        }
    }
    py::list removed;
    for (auto member : merged) {
        if (is_removed(member.second)) removed.append(member.first);
    }
    for (const py::handle name : removed) {
        if (PyDict_DelItem(merged.ptr(), name.ptr()) != 0) throw py::error_already_set();
    }
    return merged;
}

py::handle removed_value() {
    // One instance for the life of the process, named for what it means when printed.
    static PyObject* const marker = [] {
        py::dict space;
        space["__repr__"] = steal(PyInstanceMethod_New(
            py::cpp_function([](py::handle) { return py::str("<removed override>"); }).ptr()));
        space["__slots__"] = py::tuple();
        space["__module__"] = py::str(module_name());
        py::object type = py::module_::import("builtins").attr("type")("RemovedOverride", py::tuple(), space);
        return type().release().ptr();
    }();
    return marker;
}

bool is_removed(const py::handle& value) {
    return value.ptr() == removed_value().ptr();
}

void remove_scoped_value(const py::handle& module_settings_overrides, const py::handle& scope_key,
                         const py::handle& setting_name) {
    set_scoped_value(module_settings_overrides, scope_key, setting_name, removed_value());
}

void set_scoped_value(const py::handle& module_settings_overrides, const py::handle& scope_key,
                      const py::handle& setting_name, const py::handle& value) {
    if (!contains(module_settings_overrides, scope_key)) {
        module_settings_overrides[scope_key] = py::dict();
    }
    py::object scope = module_settings_overrides[scope_key];
    scope[setting_name] = value;
}

}  // namespace nvx::overrides
