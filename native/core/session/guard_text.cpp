#include "guard_text.hpp"

namespace nvx::guard {

const char* const kNoTermiosMessage =
    "The interactive dendrification-configuration TUI is not available on this platform (no "
    "termios). Set configuration_confirmed=True in your config file (or call "
    "GNV.pc.set_configuration_confirmed(True)) and configure targets via the config file or "
    "Dendrified Studio instead.";

const char* const kNoTerminalReason = "no interactive terminal is attached";

std::string rank_reason(const std::string& rank_text) {
    return "process rank is " + rank_text + ", not 0";
}

std::string not_interactive_message(const std::string& reason) {
    return "Dendrification configuration has not been confirmed, and it cannot be done "
           "interactively here (" +
           reason +
           ").\nRun dendrify_model once from an interactive terminal to choose dendrification "
           "targets, or set configuration_confirmed=True in your config file (or call "
           "GNV.pc.set_configuration_confirmed(True) before dendrify_model) to skip the "
           "interactive step.";
}

}  // namespace nvx::guard
