#include "configure_neuvora/registry.hpp"

namespace nvx::configure {

void register_save_target(py::module_& /*m*/) {}

}  // namespace nvx::configure
