// The fixed reference pages and the joining of overlay lines.
#include "common/functions.hpp"
#include "common/interp.hpp"
#include "configure_neuvora/registry.hpp"
#include "core/screens/static_pages.hpp"

namespace nvx::configure {
namespace {

py::list to_list(const overlays::Lines& lines) {
    py::list out;
    for (const auto& line : lines) out.append(from_u32(line));
    return out;
}

}  // namespace

void register_overlays(py::module_& m) {
    def(m, "render_static_overlay", {"lines"}, nullptr,
        [](Args& a) -> py::object { return py::str("\n").attr("join")(a[0]); });
    def(m, "render_help_overlay", {}, nullptr, [](Args&) { return to_list(overlays::help_page().lines); });
    def(m, "render_legend_overlay", {}, "Describe the Targets-screen markers and colours.",
        [](Args&) { return to_list(overlays::legend_page().lines); });
    def(m, "render_quit_overlay", {}, nullptr, [](Args&) { return to_list(overlays::quit_page().lines); });
}

}  // namespace nvx::configure
