#include "common/functions.hpp"
#include "configure_neuvora/registry.hpp"
#include "rule_editing.hpp"

namespace nvx::configure {

void register_rule_editing(py::module_& m) {
    def(m, "set_module_id_mode", {"module_id", "mode"}, nullptr,
        [](Args& a) { target::set_module_id_mode(a[0], a[1]); });
    def(m, "set_module_name_mode", {"module_type_name", "mode"}, nullptr,
        [](Args& a) { target::set_module_name_mode(a[0], a[1]); });
    def(m, "clear_module_mode", {"entry"}, nullptr, [](Args& a) { return target::clear_module_mode(a[0]); });
    def(m, "type_rule_entries", {"entries"}, nullptr,
        [](Args& a) { return target::type_rule_entries(a[0]); });
    def(m, "unset_module_entries", {"entries", "resolved"}, nullptr,
        [](Args& a) { return target::unset_module_entries(a[0], a[1]); });
}

}  // namespace nvx::configure
