#include "configure_neuvora/registry.hpp"

namespace nvx::configure {

void register_module_entries(py::module_& /*m*/) {}

}  // namespace nvx::configure
