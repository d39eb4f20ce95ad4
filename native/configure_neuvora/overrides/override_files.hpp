// The override files port over the module's seams: the saved overrides come
// from `load_existing_module_settings` and the session's go to
// `persist_module_settings_updates`, converted between the session's typed
// maps and the interpreter's dictionaries only there.
#pragma once

#include <pybind11/pybind11.h>

#include <functional>

#include "core/settings/settings_port.hpp"

namespace nvx::configure {
namespace py = pybind11;

class InterpreterOverrideFiles final : public settings::OverrideFiles {
public:
    settings::Overrides load() override;
    // An OSError or ValueError of the write comes back as its text (no file is
    // half written); any other error propagates and ends the session.
    settings::WriteOutcome save(const settings::Overrides& session, bool as_default) override;
};

// Runs `write`. An OSError or ValueError it raises (a file that cannot be
// written, or that holds something it may not overwrite) comes back as the
// error's text, which names the file; every other error propagates.
settings::WriteOutcome refused_write(const std::function<void()>& write);

// {scope key: {setting name: value}}, keys read as text.
settings::Overrides to_overrides(const py::handle& scopes);
// The same as dictionaries; a removed setting holds REMOVED_OVERRIDE.
py::dict to_dict(const settings::Overrides& overrides);

}  // namespace nvx::configure
