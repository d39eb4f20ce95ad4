#include "common/functions.hpp"
#include "common/interp.hpp"
#include "configure_neuvora/registry.hpp"
#include "persistence.hpp"
#include "scopes.hpp"

namespace nvx::configure {

void register_overrides(py::module_& m) {
    // Read once, at import: the settings an override scope can hold, in order.
    m.attr("CUSTOMIZABLE_SETTING_NAMES") =
        py::list(m.attr("GNV").attr("NVXConfig").attr("_CUSTOMIZABLE").attr("keys")());

    def(m, "load_existing_module_settings", {}, "Load existing module_settings from local config sources.",
        [](Args&) { return overrides::load_existing_settings(); });
    def(m, "get_scope_values", {"scope_key", "module_settings_overrides", "existing_module_settings"},
        "Merged override values for one scope: saved data plus in-session edits.",
        [](Args& a) { return overrides::scope_values(a[0], a[1], a[2]); });
    def(m, "set_module_scoped_value", {"module_settings_overrides", "scope_key", "setting_name", "value"},
        "Write one override value into in-session state.",
        [](Args& a) { overrides::set_scoped_value(a[0], a[1], a[2], a[3]); });
    def(m, "remove_module_scoped_value", {"module_settings_overrides", "scope_key", "setting_name"},
        "Remove one override value from a scope in in-session state; saving deletes it from the files.",
        [](Args& a) { overrides::remove_scoped_value(a[0], a[1], a[2]); });
    m.attr("REMOVED_OVERRIDE") = overrides::removed_value();
    def(m, "get_override_scope_for_entry", {"entry", "resolved"},
        "Determine the override scope for a target, or a reason it is blocked.",
        [](Args& a) { return overrides::override_scope_for_entry(a[0], a[1]); });
    def(m, "persist_module_settings_updates",
        {"module_settings_overrides", Param("overwrite_config_file", py::bool_(false))},
        "Persist in-session module_settings updates to local config JSON files.",
        [](Args& a) { overrides::persist_settings_updates(a[0], truthy(a[1])); });
}

}  // namespace nvx::configure
