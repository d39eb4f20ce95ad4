#include "configure_neuvora/registry.hpp"

namespace nvx::configure {

void register_rule_editing(py::module_& /*m*/) {}

}  // namespace nvx::configure
