#include "common/functions.hpp"
#include "configure_neuvora/registry.hpp"
#include "save_target.hpp"

namespace nvx::configure {

void register_save_target(py::module_& m) {
    def(m, "_config_target_path", {}, "Human path where 'save as default' would write.",
        [](Args&) { return overrides::config_target_path(); });
}

}  // namespace nvx::configure
