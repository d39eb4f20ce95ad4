#include "configure_neuvora/registry.hpp"

namespace nvx::configure {

void register_mode_rules(py::module_& /*m*/) {}

}  // namespace nvx::configure
