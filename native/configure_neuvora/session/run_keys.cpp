#include "common/glue.hpp"
#include "session.hpp"

namespace nvx::configure {

void Session::handle_run_key(const py::object& /*key*/) {}

}  // namespace nvx::configure
