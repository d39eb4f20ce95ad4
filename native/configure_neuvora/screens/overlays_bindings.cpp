#include <utility>
#include <vector>

#include "common/functions.hpp"
#include "common/interp.hpp"
#include "common/module_namespace.hpp"
#include "configure_neuvora/registry.hpp"
#include "core/screens/overrides_text.hpp"
#include "core/screens/static_pages.hpp"
#include "core/text/display_text.hpp"
#include "core/text/styling.hpp"

namespace nvx::configure {
namespace {

py::list to_list(const overlays::Lines& lines) {
    py::list out;
    for (const auto& line : lines) out.append(from_u32(line));
    return out;
}

std::u32string text_of(const py::handle& value) {
    return to_u32(to_str(value));
}

// `str(value)` for data from outside (ids, class names, values, paths), with
// control characters shown escaped.
std::u32string shown(const py::handle& value) {
    return display::escape_controls(text_of(value));
}

py::list render_overrides_overlay(Args& a) {
    const py::object& scope = a[0];
    const py::object& selected_index = a[1];
    const py::object& module_settings_overrides = a[2];
    const py::object& existing_module_settings = a[3];
    const py::object& describe_name = a[4];

    const bool id_scope = equals(scope[py::str("kind")], py::str("id"));
    const std::u32string title = overlays::overrides_title(id_scope, shown(scope[py::str("scope_key")]));
    const py::object values = call_global("get_scope_values", scope[py::str("scope_key")],
                                          module_settings_overrides, existing_module_settings);
    overlays::Lines lines =
        overlays::overrides_head(text_of(call_global("render_tab_bar", "targets")), title);

    const py::object names = global("CUSTOMIZABLE_SETTING_NAMES");
    if (py::len(names) == 0) lines.push_back(overlays::overrides_empty_line());
    std::size_t position = 0;
    for (const py::handle name : names) {
        const bool overridden = values.contains(name);
        const py::object value =
            overridden ? py::object(values[name]) : call_global("get_global_setting_value", name);
        const bool selected = equals(py::int_(position), selected_index);
        const std::u32string value_text = shown(call_global("format_run_setting_value", name, value));
        lines.push_back(overlays::override_row(selected, shown(name), value_text, overridden));
        ++position;
    }
    lines.push_back(U"");
    if (truthy(describe_name)) {
        lines.push_back(overlays::overrides_describe_line(
            shown(describe_name), shown(call_global("get_setting_description", describe_name))));
    } else {
        lines.push_back(overlays::overrides_key_hint());
    }
    return to_list(lines);
}

}  // namespace

void register_overlays(py::module_& m) {
    def(m, "render_static_overlay", {"lines"}, nullptr,
        [](Args& a) -> py::object { return py::str("\n").attr("join")(a[0]); });
    def(m, "render_help_overlay", {}, nullptr, [](Args&) { return to_list(overlays::help_lines()); });
    def(m, "render_legend_overlay", {}, "Describe the Targets-screen markers and colours.",
        [](Args&) { return to_list(overlays::legend_lines()); });
    def(m, "render_quit_overlay", {}, nullptr, [](Args&) { return to_list(overlays::quit_lines()); });
    def(m, "render_overrides_overlay",
        {"scope", "ov_selected_index", "module_settings_overrides", "existing_module_settings",
         "describe_name"},
        nullptr, [](Args& a) { return render_overrides_overlay(a); });
}

}  // namespace nvx::configure
