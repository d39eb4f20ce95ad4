// refresh_net and the functions of the network walk.
#pragma once

#include <pybind11/pybind11.h>

namespace nvx::clean {

// Defines refresh_net, refresh_nvx, make_module, get_pretrained_nvx_attr and
// get_pretrained_nvx_var on the module.
void register_refresh(pybind11::module_& m);

}  // namespace nvx::clean
