#include "configure_neuvora/registry.hpp"

namespace nvx::configure {

void register_overrides(py::module_& /*m*/) {}

}  // namespace nvx::configure
