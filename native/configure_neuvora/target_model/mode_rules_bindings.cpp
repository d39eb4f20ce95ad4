#include "common/functions.hpp"
#include "configure_neuvora/registry.hpp"
#include "mode_rules.hpp"

namespace nvx::configure {

void register_mode_rules(py::module_& m) {
    def(m, "normalize_selection_conflicts", {}, nullptr,
        [](Args&) { target::normalize_selection_conflicts(); });
    def(m, "get_id_mode", {"module_id"}, nullptr, [](Args& a) { return target::get_id_mode(a[0]); });
    def(m, "get_name_mode", {"module_type_name"}, nullptr,
        [](Args& a) { return target::get_name_mode(a[0]); });
    def(m, "resolve_entry_modes", {"entries"}, nullptr,
        [](Args& a) { return target::resolve_entry_modes(a[0]); });
}

}  // namespace nvx::configure
