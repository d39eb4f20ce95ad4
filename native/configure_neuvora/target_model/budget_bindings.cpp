#include "budget.hpp"
#include "common/functions.hpp"
#include "configure_neuvora/registry.hpp"

namespace nvx::configure {

void register_budget(py::module_& m) {
    def(m, "format_human_count", {"value"}, nullptr,
        [](Args& a) { return target::format_human_count(a[0]); });
    def(m, "build_budget_line", {"entries", "resolved"}, nullptr,
        [](Args& a) { return target::build_budget_line(a[0], a[1]); });
}

}  // namespace nvx::configure
