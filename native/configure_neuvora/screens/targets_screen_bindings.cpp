#include "configure_neuvora/registry.hpp"

namespace nvx::configure {

void register_targets_screen(py::module_& /*m*/) {}

}  // namespace nvx::configure
