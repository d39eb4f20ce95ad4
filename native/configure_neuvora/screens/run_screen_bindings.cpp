#include "common/functions.hpp"
#include "configure_neuvora/registry.hpp"
#include "run_screen.hpp"

namespace nvx::configure {

void register_run_screen(py::module_& m) {
    def(m, "build_run_items", {"expanded_buckets"},
        "Build the Run settings list: bucket rows, tier-sorted settings, dividers.",
        [](Args& a) { return build_run_items(a[0]); });
    def(m, "render_run_settings_lines", {"items", "selected_index", "describe_name"},
        "Header + item body + footer for the Run settings screen.",
        [](Args& a) { return render_run_settings_lines(a[0], a[1], a[2]); });
}

}  // namespace nvx::configure
