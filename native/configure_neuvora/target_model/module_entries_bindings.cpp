#include "common/functions.hpp"
#include "configure_neuvora/registry.hpp"
#include "module_entries.hpp"

namespace nvx::configure {

void register_module_entries(py::module_& m) {
    def(m, "get_module_entries", {"model"}, nullptr,
        [](Args& a) { return target::get_module_entries(a[0]); });
    def(m, "get_parent_module_id", {"module_id"}, nullptr,
        [](Args& a) { return target::get_parent_module_id(a[0]); });
    def(m, "dedupe_list", {"values"}, nullptr, [](Args& a) { return target::dedupe_list(a[0]); });
}

}  // namespace nvx::configure
