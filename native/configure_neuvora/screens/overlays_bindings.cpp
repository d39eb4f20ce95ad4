#include "configure_neuvora/registry.hpp"

namespace nvx::configure {

void register_overlays(py::module_& /*m*/) {}

}  // namespace nvx::configure
