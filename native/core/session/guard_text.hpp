// Texts of the interactive-session guard and the launcher rank variables.
#pragma once

#include <array>
#include <string>

namespace nvx::guard {

// Environment variables that carry the process rank, in the order they are consulted.
inline constexpr std::array<const char*, 4> kRankVariables = {"RANK", "LOCAL_RANK", "SLURM_PROCID",
                                                              "OMPI_COMM_WORLD_RANK"};

// Raised when the terminal-control module could not be imported.
extern const char* const kNoTermiosMessage;

// Reason given when standard input or output is not a terminal.
extern const char* const kNoTerminalReason;

// "process rank is <rank>, not 0".
std::string rank_reason(const std::string& rank_text);

// The full refusal for a process that cannot run the configurator.
std::string not_interactive_message(const std::string& reason);

}  // namespace nvx::guard
