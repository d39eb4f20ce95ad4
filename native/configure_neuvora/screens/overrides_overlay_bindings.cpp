// `render_overrides_overlay` over the core's overrides page: the scope and the
// values read from the interpreter's dictionaries, the page given back as lines.
#include <optional>
#include <utility>

#include "common/functions.hpp"
#include "common/interp.hpp"
#include "configure_neuvora/overrides/scopes.hpp"
#include "configure_neuvora/registry.hpp"
#include "configure_neuvora/run_settings/interpreter_settings.hpp"
#include "configure_neuvora/run_settings/value_bridge.hpp"
#include "configure_neuvora/seams.hpp"
#include "core/screens/overrides_frame.hpp"

namespace nvx::configure {
namespace {

py::list render_overrides_overlay(Args& a) {
    const py::object& scope = a[0];
    const py::object& selected_index = a[1];
    const py::object& describe_name = a[4];
    InterpreterSettings settings;

    overlays::OverridesPage page;
    page.id_scope = equals(scope[py::str("kind")], py::str("id"));
    page.scope_key = to_u32(to_str(scope[py::str("scope_key")]));
    const py::dict values = overrides::scope_values(scope[py::str("scope_key")], a[2], a[3]);
    std::size_t position = 0;
    for (const settings::Name& name : settings.customizable()) {
        const py::object name_object = to_object(name);
        overlays::OverrideRow row;
        row.overridden = values.contains(name_object);
        const settings::Value value = row.overridden ? to_value(values[name_object]) : settings.read(name);
        row.selected = equals(py::int_(position++), selected_index);
        row.value_text = settings.display_text(name, value);
        row.name = name.text;
        page.rows.push_back(std::move(row));
    }
    if (truthy(describe_name)) {
        const settings::Name described = to_name(describe_name);
        page.described.emplace(described.text, settings.setting_help(described));
    }
    py::list lines;
    for (const std::u32string& line : overlays::overrides_frame(page).lines) lines.append(from_u32(line));
    return lines;
}

}  // namespace

void register_overrides_overlay(py::module_& m) {
    def(m, "render_overrides_overlay",
        {"scope", "ov_selected_index", "module_settings_overrides", "existing_module_settings",
         "describe_name"},
        nullptr, [](Args& a) { return render_overrides_overlay(a); });
}

}  // namespace nvx::configure
