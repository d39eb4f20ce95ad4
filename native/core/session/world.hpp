// Everything a session reaches outside itself, as ports: the terminal, the
// model being configured, the four rule lists, the run settings and the
// override files, and the configuration object's part in saving. The session
// itself is plain C++ over these ports; the adapter beside the bindings
// implements them over the module's seams.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "config_path.hpp"
#include "core/layout/frame.hpp"
#include "core/model/module_table.hpp"
#include "core/model/rule_lists.hpp"
#include "core/settings/settings_port.hpp"

namespace nvx::session {

// One key press as text; none for a key that is not text (a key reader
// replaced from outside may hand out anything).
using Key = std::optional<std::u32string>;

class Terminal {
public:
    virtual ~Terminal() = default;
    // The size of the terminal now; read once for each frame.
    virtual layout::TerminalSize size() = 0;
    // Waits for the next key. None when the terminal was resized instead: the
    // frame is then drawn again at the new size, and no key counts.
    virtual std::optional<Key> read_key() = 0;
    // Clears the screen and prints `frame`: every frame of a session goes out here.
    virtual void show_frame(const std::u32string& frame) = 0;
    virtual void enter_alternate_screen() = 0;
    virtual void exit_alternate_screen() = 0;
    // Prints one line on the normal screen.
    virtual void print_line(const std::u32string& line) = 0;
    // Asks for one line of input on the normal screen; the answer without the
    // white space around it.
    virtual std::u32string input_line(const std::u32string& prompt) = 0;
    // Waits for the user to answer `prompt` (the answer is not used).
    virtual void await_enter(const std::u32string& prompt) = 0;
};

// The model's module tree as a table, read once when the session starts.
class ModelSource {
public:
    virtual ~ModelSource() = default;
    virtual const model::ModuleTable& table() = 0;
    // Answers for the table's names that are not plain text.
    virtual model::NameOracle& oracle() = 0;
    // Reads the classes of the model with their base classes' names into the
    // table (the type rules' hints ask for them); once.
    virtual void load_class_uses() = 0;
    // A row's id and class name case-folded (UTF-8), for finding modules.
    virtual std::pair<std::string, std::string> folded_names(std::size_t row) = 0;
};

// The four rule lists where they live, read and written at the time of use.
// Its oracle also answers for the model table's names, so rules may be given
// names of table rows.
class RuleLists : public model::RuleStore {
public:
    virtual model::NameOracle& oracle() = 0;
};

// The configuration object's state that choosing a save option changes (its
// configuration file, its confirmation), as it was when taken.
class SaveCheckpoint {
public:
    virtual ~SaveCheckpoint() = default;
    // Puts that state back.
    virtual void restore() = 0;
};

// The configuration object's part in saving.
class Configuration {
public:
    virtual ~Configuration() = default;
    // Whether a configuration file is set.
    virtual bool has_config_file() = 0;
    // The run's save name as text; "NVX" when it has none.
    virtual std::u32string save_name() = 0;
    // Where "save as default" writes, as shown to the user.
    virtual std::u32string config_target_path() = 0;
    // Sets the configuration file to `path`.
    virtual void set_config_file(const std::u32string& path) = 0;
    // The configuration is confirmed: the package asks no more.
    virtual void confirm() = 0;
    // The configuration object writes its outputs (also the configuration file
    // when `as_default`). Errors other than a refused write propagate.
    virtual settings::WriteOutcome persist_outputs(bool as_default) = 0;
    // The state a save may change, to be put back if the save fails.
    virtual std::unique_ptr<SaveCheckpoint> checkpoint() = 0;
};

class World {
public:
    virtual ~World() = default;
    virtual Terminal& terminal() = 0;
    virtual Configuration& configuration() = 0;
    virtual settings::SettingsPort& settings() = 0;
    virtual settings::OverrideFiles& override_files() = 0;
    // What the file system holds at a path typed at the filename prompt.
    virtual FileSystem& file_system() = 0;
    // The rule lists, read afresh by what is handed out now.
    virtual std::unique_ptr<RuleLists> rule_lists() = 0;
    // Reads the model's entries; returns how many there are.
    virtual std::size_t read_entries() = 0;
    // The table of the entries read (built at the first call).
    virtual ModelSource& model() = 0;
    // Prints the model itself on the normal screen (a model without modules).
    virtual void print_model() = 0;
};

}  // namespace nvx::session
