// Where the configurator meets the outside world. These names, and only these,
// are looked up on the module (then among the interpreter's builtins) at the
// time of use, so replacing one of them from Python takes effect at once: the
// terminal and the process, the local files, the configuration readers, the
// model's entries, the module globals the configurator reads, and the
// interpreter's print, input and open. Every other call between parts of the
// configurator is a plain C++ call.
#pragma once

#include <pybind11/pybind11.h>

#include <utility>

namespace nvx::configure {
namespace py = pybind11;

enum class Seam {
    // Terminal and process.
    TerminalSize,
    ReadSingleKey,
    EnterAlternateScreen,
    ExitAlternateScreen,
    RequireInteractiveSession,
    DistributedRank,
    // Files.
    LoadDescriptionData,
    LoadExistingModuleSettings,
    PersistModuleSettingsUpdates,
    ConfigTargetPath,
    // Configuration readers.
    GetGlobalSettingValue,
    GetAllGlobalParameters,
    // The model.
    GetModuleEntries,
    // Module globals.
    GNV,
    Sys,
    Os,
    Json,
    Re,
    Shutil,
    Select,
    Termios,
    Tty,
    Torch,
    DescriptionCache,
    CustomizableSettingNames,
    File,
    // The interpreter's builtins.
    Print,
    Input,
    Open,
};

// The name a seam has on the module.
const char* seam_name(Seam which);

// The seam's current value: the module's attribute, else the builtin of that
// name; NameError when neither exists.
py::object seam(Seam which);

// Assigns a module global (the description cache is written back this way).
void set_seam(Seam which, const py::handle& value);

template <typename... CallArgs>
py::object call_seam(Seam which, CallArgs&&... args) {
    return seam(which)(std::forward<CallArgs>(args)...);
}

// `GNV.pc`, the configuration object, read at the time of use.
py::object configuration();

// `print(text, end=end, flush=flush)` through the module's `print`.
void print_text(const py::object& text, const char* end = "\n", bool flush = false);

// `json.load(open(path, "r"))` through the module's `open` and `json`; the file
// is closed on every way out.
py::object read_json_file(const py::handle& path);

}  // namespace nvx::configure
