// The path that "save as default" would write, as shown to the user.
#pragma once

#include <pybind11/pybind11.h>

namespace nvx::overrides {
namespace py = pybind11;

// The configuration file when one is set; else the run configuration path
// relative to the working directory; else "<save name>/<save name>_config.json".
py::object config_target_path();

}  // namespace nvx::overrides
