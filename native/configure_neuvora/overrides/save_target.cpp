#include "save_target.hpp"

#include "common/interp.hpp"
#include "configure_neuvora/seams.hpp"

namespace nvx::overrides {

py::object config_target_path() {
    py::object pc = configure::configuration();
    py::object config_file = pc.attr("get_config_file")();
    if (truthy(config_file)) return config_file;

    py::object run_config = pc.attr("get_run_config_path")();
    if (truthy(run_config)) {
        try {
            py::object os = configure::seam(configure::Seam::Os);
            return os.attr("path").attr("relpath")(run_config, os.attr("getcwd")());
        } catch (py::error_already_set& e) {
            if (!e.matches(PyExc_Exception)) throw;
            return run_config;
        }
    }

    py::object save_name = pc.attr("get_save_name")();
    const std::u32string name = truthy(save_name) ? to_u32(to_str(save_name)) : std::u32string(U"NVX");
    return from_u32(name + U"/" + name + U"_config.json");
}

}  // namespace nvx::overrides
