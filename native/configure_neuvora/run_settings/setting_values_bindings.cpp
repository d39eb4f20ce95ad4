#include "configure_neuvora/registry.hpp"

namespace nvx::configure {

void register_setting_values(py::module_& /*m*/) {}

}  // namespace nvx::configure
