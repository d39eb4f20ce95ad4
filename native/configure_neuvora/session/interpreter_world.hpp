// The session's World over the module's seams: the terminal functions, the
// configuration object `GNV.pc`, the model's entries from
// `get_module_entries`, the settings and override files through their own
// adapters. Nothing else is looked up on the module.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <optional>

#include "configure_neuvora/overrides/override_files.hpp"
#include "configure_neuvora/run_settings/interpreter_settings.hpp"
#include "configure_neuvora/target_model/entry_reader.hpp"
#include "core/session/session.hpp"

namespace nvx::configure {
namespace py = pybind11;

class InterpreterTerminal final : public session::Terminal {
public:
    layout::TerminalSize size() override;
    std::optional<session::Key> read_key() override;
    void show_frame(const std::u32string& frame) override;
    void enter_alternate_screen() override;
    void exit_alternate_screen() override;
    void print_line(const std::u32string& line) override;
    std::u32string input_line(const std::u32string& prompt) override;
    void await_enter(const std::u32string& prompt) override;

    // Whether the session is on the alternate screen (not while the filename
    // prompt of "save as default" is shown on the main screen).
    bool on_alternate_screen() const { return on_alternate_screen_; }

private:
    bool on_alternate_screen_ = false;
    int empty_reads_ = 0;
};

class InterpreterConfiguration final : public session::Configuration {
public:
    bool has_config_file() override;
    std::u32string save_name() override;
    std::u32string config_target_path() override;
    void set_config_file(const std::u32string& path) override;
    void confirm() override;
    // An OSError or ValueError of the write comes back as its text.
    settings::WriteOutcome persist_outputs(bool as_default) override;
    // `_config_file` as `GNV.pc.__dict__` holds it (or its absence), and the
    // confirmation where the object has `get_configuration_confirmed` to read it.
    std::unique_ptr<session::SaveCheckpoint> checkpoint() override;
};

// The file system through the module's `os`, and an existing file's content
// through its `open` and `json`.
class InterpreterFileSystem final : public session::FileSystem {
public:
    session::PathFacts facts(const std::u32string& path) override;
};

class InterpreterWorld final : public session::World {
public:
    explicit InterpreterWorld(py::object model) : model_(std::move(model)) {}

    session::Terminal& terminal() override { return terminal_; }
    session::Configuration& configuration() override { return configuration_; }
    settings::SettingsPort& settings() override { return settings_; }
    settings::OverrideFiles& override_files() override { return override_files_; }
    session::FileSystem& file_system() override { return file_system_; }
    std::unique_ptr<session::RuleLists> rule_lists() override;
    std::size_t read_entries() override;
    session::ModelSource& model() override;
    void print_model() override;

    const InterpreterTerminal& interpreter_terminal() const { return terminal_; }

    // Runs `session`; every error the core raises comes out as the interpreter's.
    session::Outcome run(session::Session& session);

private:
    class Entries;

    py::object model_;
    py::object entries_;
    std::unique_ptr<Entries> table_;
    InterpreterTerminal terminal_;
    InterpreterConfiguration configuration_;
    InterpreterSettings settings_;
    InterpreterOverrideFiles override_files_;
    InterpreterFileSystem file_system_;
};

}  // namespace nvx::configure
