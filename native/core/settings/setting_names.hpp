// The setting names and value names the configurator knows by heart.
#pragma once

#include <string>
#include <vector>

namespace nvx::settings {

// Read, listed and shown never, even when the descriptions file lists it.
inline const std::u32string kRuntimeOnlySetting = U"config_file";

// Display names of the four switch-mode values, in the order the
// configuration object's DOING_* attributes are read.
inline const std::vector<std::u32string> kSwitchModeNames = {U"DOING_SWITCH_EVERY_TIME", U"DOING_HISTORY",
                                                             U"DOING_FIXED_SWITCH", U"DOING_NO_SWITCH"};
// The choices of the forward function, named as torch names them.
inline const std::vector<std::u32string> kForwardFunctionNames = {U"relu", U"tanh", U"sigmoid"};

// Display texts longer than this are cut to kMaxDisplayLength - 3 characters and "...".
inline constexpr std::size_t kMaxDisplayLength = 140;

}  // namespace nvx::settings
