// Module init of neuvora.clean_neuvora: the imports and the names they bind,
// the wrapper class and the network refresh functions.
#include <pybind11/pybind11.h>

#include "common/module_namespace.hpp"
#include "pycall.hpp"
#include "refresh.hpp"
#include "wrapper.hpp"

namespace py = pybind11;

PYBIND11_MODULE(clean_neuvora, m) {
    nvx::bind_module_namespace(m);
    nvx::clean::init_names();
    m.attr("GNV") = py::module_::import("neuvora.globals_neuvora");
    m.attr("nn") = py::module_::import("torch").attr("nn");
    m.attr("torch") = py::module_::import("torch");
    m.attr("Thread") = py::module_::import("threading").attr("Thread");
    m.attr("doing_threading") = false;

    py::object nn = m.attr("nn");
    nvx::clean::init_module_lookup(nn.attr("Module"), nn.attr("ModuleList"), nn.attr("ParameterList"));
    py::object wrapper = nvx::clean::create_wrapper_class(m.attr("nn").attr("Module"));
    m.attr("NVXModulePyThread") = wrapper;
    m.attr("ModuleType") = wrapper;

    nvx::clean::register_refresh(m);
}
