// Module init of neuvora.clean_neuvora: the imports and the names they bind,
// the wrapper class and the network refresh functions.
#include <pybind11/pybind11.h>

#include "common/glue.hpp"

namespace py = pybind11;

PYBIND11_MODULE(clean_neuvora, m) {
    nvx::bind_module_namespace(m);
    m.attr("GNV") = py::module_::import("neuvora.globals_neuvora");
    m.attr("nn") = py::module_::import("torch").attr("nn");
    m.attr("torch") = py::module_::import("torch");
    m.attr("Thread") = py::module_::import("threading").attr("Thread");
    m.attr("doing_threading") = false;
}
