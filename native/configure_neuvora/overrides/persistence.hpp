// The "module_settings" member of the run's local JSON configuration files:
// reading the saved overrides, and merging the in-session ones into each file.
#pragma once

#include <pybind11/pybind11.h>

namespace nvx::overrides {
namespace py = pybind11;

// Saved overrides of the configuration file, then of the run configuration
// file (whole scopes of the later file win). Missing, unreadable or malformed
// files count as empty.
py::dict load_existing_settings();

// Merges the in-session overrides into the run configuration file and, with
// `overwrite_config_file`, into the configuration file too. Each file is
// replaced only by a complete new version; a file whose current content cannot
// be read as a JSON object is left as it is and reported by an exception.
void persist_settings_updates(const py::handle& module_settings_overrides, bool overwrite_config_file);

}  // namespace nvx::overrides
