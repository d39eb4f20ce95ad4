#include "configure_neuvora/registry.hpp"

namespace nvx::configure {

void register_descriptions(py::module_& /*m*/) {}

}  // namespace nvx::configure
