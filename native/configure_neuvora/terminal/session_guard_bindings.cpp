#include "configure_neuvora/registry.hpp"

namespace nvx::configure {

void register_session_guard(py::module_& /*m*/) {}

}  // namespace nvx::configure
