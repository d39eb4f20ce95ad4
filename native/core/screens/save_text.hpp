// Text of the save overlay: the choices before training starts, with the
// modules still without a mode and the shared tensors in conflict.
#pragma once

#include <cstddef>
#include <functional>
#include <utility>
#include "page_pieces.hpp"

namespace nvx::overlays {

// `unset_listed` holds (id, class name) of the first unset modules to show (at
// most five), `unset_count` how many there are in all; `selected` tells whether
// option i is the highlighted one. `conflicts` describes every pair of rows
// that hold the same tensors with different modes, and `conflict_tensors`
// counts those tensors.
Lines save_lines(const std::vector<std::pair<std::u32string, std::u32string>>& unset_listed,
                 std::size_t unset_count, const std::function<bool(std::size_t)>& selected,
                 const std::u32string& config_target_path, const std::vector<std::u32string>& conflicts = {},
                 std::size_t conflict_tensors = 0);

// How many unset modules the save overlay lists by name.
inline constexpr std::size_t kSaveListedUnset = 5;

}  // namespace nvx::overlays
