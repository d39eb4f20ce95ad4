#include "common/glue.hpp"
#include "session.hpp"

namespace nvx::configure {

void Session::handle_targets_key(const py::object& /*key*/) {}

}  // namespace nvx::configure
