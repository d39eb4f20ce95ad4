#include "scopes.hpp"

#include "common/interp.hpp"
#include "common/module_namespace.hpp"

namespace nvx::overrides {
namespace {

py::object get_item(const py::handle& mapping, const char* key) {
    return mapping[py::str(key)];
}

py::tuple refused(const char* reason) {
    return py::make_tuple(py::none(), from_utf8(reason));
}

}  // namespace

py::tuple override_scope_for_entry(const py::handle& entry, const py::handle& resolved) {
    py::object record = resolved[get_item(entry, "id")];
    if (truthy(get_item(entry, "is_replaced_root")) || truthy(get_item(entry, "in_replaced"))) {
        return refused("Overrides are not available inside a module that will be restructured.");
    }
    py::object eff = get_item(record, "eff");
    if (eff.is_none()) {
        return refused(
            "Overrides are only for dendrified modules. Dendrify this one first (p), or track it if you "
            "just want it monitored.");
    }
    py::object source = get_item(record, "source");
    if (equals(source, py::str("inherited"))) {
        const std::u32string origin = to_u32(to_str(get_item(record, "origin_id")));
        return py::make_tuple(
            py::none(), from_u32(U"This module inherits " + origin + U"'s mode. Open overrides on " + origin +
                                 U" to change settings for the whole subtree."));
    }
    if (!equals(eff, py::str("dendrified"))) {
        return refused("Overrides are only for dendrified modules \u2014 this one is tracked.");
    }
    py::dict scope;
    if (equals(source, py::str("type"))) {
        scope["kind"] = py::str("type");
        scope["scope_key"] = get_item(entry, "type_name");
    } else {
        scope["kind"] = py::str("id");
        scope["scope_key"] = get_item(entry, "id");
    }
    return py::make_tuple(scope, py::none());
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
