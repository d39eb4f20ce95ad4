#include "configure_neuvora/registry.hpp"

namespace nvx::configure {

void register_screen_layout(py::module_& /*m*/) {}

}  // namespace nvx::configure
