#include "common/functions.hpp"
#include "common/interp.hpp"
#include "configure_neuvora/registry.hpp"
#include "core/settings/setting_names.hpp"
#include "setting_values.hpp"
#include "value_bridge.hpp"

namespace nvx::configure {

void register_setting_values(py::module_& m) {
    // For callers to read; the configurator itself uses the constants.
    py::set runtime_only;
    runtime_only.add(from_u32(settings::kRuntimeOnlySetting));
    m.attr("RUNTIME_ONLY_CONFIG_KEYS") = runtime_only;
    m.attr("SWITCH_MODE_NAMES") = to_text_list(settings::kSwitchModeNames);
    m.attr("FORWARD_FUNCTION_NAMES") = to_text_list(settings::kForwardFunctionNames);

    def(m, "get_global_setting_value", {"setting_name"},
        "Read one setting value from the global config object.",
        [](Args& a) { return get_global_setting_value(a[0]); });
    def(m, "get_all_global_parameters", {}, "Collect JSON-declared run settings as name -> current value.",
        [](Args&) { return get_all_global_parameters(); });
    def(m, "format_setting_value", {"value"},
        "Format setting values for compact configuration screen display.",
        [](Args& a) { return format_setting_value(a[0]); });
    def(m, "format_run_setting_value", {"setting_name", "value"},
        "Display string for a run setting, naming enum values.",
        [](Args& a) { return format_run_setting_value(a[0], a[1]); });
    def(m, "_switch_mode_values", {}, nullptr, [](Args&) { return switch_mode_values(); });
    def(m, "get_enum_options", {"setting_name"},
        "Return the ordered set of values for an enum-like setting, else None.",
        [](Args& a) { return get_enum_options(a[0]); });
    def(m, "cycle_enum_setting", {"setting_name", "current_value"},
        "Compute and apply the next value for an enum setting.",
        [](Args& a) { return cycle_enum_setting(a[0], a[1]); });
    def(m, "apply_setting_value", {"setting_name", "value"},
        "Apply one setting value through a setter when available.",
        [](Args& a) { return apply_setting_value(a[0], a[1]); });
    def(m, "parse_value_from_text", {"text", "sample_value"},
        "Parse user text into the same type as a sample value where possible.",
        [](Args& a) { return parse_value_from_text(a[0], a[1]); });
}

}  // namespace nvx::configure
