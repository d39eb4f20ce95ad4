// The override files port over the module's seams: the saved overrides come
// from `load_existing_module_settings` and the session's go to
// `persist_module_settings_updates`, converted between the session's typed
// maps and the interpreter's dictionaries only there.
#pragma once

#include <pybind11/pybind11.h>

#include "core/settings/settings_port.hpp"

namespace nvx::configure {
namespace py = pybind11;

class InterpreterOverrideFiles final : public settings::OverrideFiles {
public:
    settings::Overrides load() override;
    // A write that fails raises the interpreter's error, which ends the
    // session after the terminal is restored (no file is half written).
    Saved save(const settings::Overrides& session, bool as_default) override;
};

// {scope key: {setting name: value}}, keys read as text.
settings::Overrides to_overrides(const py::handle& scopes);
// The same as dictionaries; a removed setting holds REMOVED_OVERRIDE.
py::dict to_dict(const settings::Overrides& overrides);

}  // namespace nvx::configure
