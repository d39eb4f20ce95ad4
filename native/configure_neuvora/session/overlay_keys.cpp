#include "common/glue.hpp"
#include "session.hpp"

namespace nvx::configure {

void Session::handle_overlay_key(const py::object& /*key*/) {}

}  // namespace nvx::configure
