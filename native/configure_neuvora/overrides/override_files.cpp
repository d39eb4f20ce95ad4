#include "override_files.hpp"

#include <string>
#include <utility>

#include "common/interp.hpp"
#include "configure_neuvora/run_settings/value_bridge.hpp"
#include "configure_neuvora/seams.hpp"
#include "scopes.hpp"

namespace nvx::configure {

settings::Overrides to_overrides(const py::handle& scopes) {
    settings::Overrides overrides;
    for (const py::handle scope : scopes.attr("items")()) {
        const std::u32string scope_key = to_u32(to_str(scope[py::int_(0)]));
        for (const py::handle setting : scope[py::int_(1)].attr("items")()) {
            const py::object value = setting[py::int_(1)];
            const std::u32string name = to_u32(to_str(setting[py::int_(0)]));
            if (overrides::is_removed(value)) {
                overrides.remove(scope_key, name);
            } else {
                overrides.set(scope_key, name, to_value(value));
            }
        }
    }
    return overrides;
}

py::dict to_dict(const settings::Overrides& overrides) {
    py::dict scopes;
    for (const auto& [scope_key, values] : overrides.scopes()) {
        py::dict scope;
        for (const auto& [name, value] : values.entries()) {
            scope[from_u32(name)] =
                value ? to_object(*value) : py::reinterpret_borrow<py::object>(overrides::removed_value());
        }
        scopes[from_u32(scope_key)] = scope;
    }
    return scopes;
}

settings::Overrides InterpreterOverrideFiles::load() {
    return to_overrides(call_seam(Seam::LoadExistingModuleSettings));
}

settings::WriteOutcome refused_write(const std::function<void()>& write) {
    try {
        write();
        return {};
    } catch (py::error_already_set& error) {
        if (!error.matches(PyExc_OSError) && !error.matches(PyExc_ValueError)) throw;
        std::u32string text = to_u32(py::str(error.value()));
        if (text.empty()) text = to_u32(py::str(py::type::handle_of(error.value()).attr("__name__")));
        return {false, std::move(text)};
    }
}

settings::WriteOutcome InterpreterOverrideFiles::save(const settings::Overrides& session, bool as_default) {
    using namespace py::literals;
    return refused_write([&] {
        call_seam(Seam::PersistModuleSettingsUpdates, to_dict(session),
                  "overwrite_config_file"_a = as_default);
    });
}

}  // namespace nvx::configure
