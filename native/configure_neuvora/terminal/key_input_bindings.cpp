#include "configure_neuvora/registry.hpp"

namespace nvx::configure {

void register_key_input(py::module_& /*m*/) {}

}  // namespace nvx::configure
