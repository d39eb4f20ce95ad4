// The save overlay: the choices before training starts, with the modules
// still without a mode and the shared tensors in conflict. Its options come
// from one list, which the keys of the overlay read too.
#pragma once

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

#include "core/layout/frame.hpp"
#include "page_pieces.hpp"

namespace nvx::overlays {

// What choosing an option does.
enum class SaveChoice { ThisRun, AsDefault, KeepEditing, StartAnyway };

struct SaveOption {
    SaveChoice choice;
    std::u32string label;
    std::u32string hint;  // shown after the label ("" for none)
    bool dim_unselected;  // the label is dimmed while not selected
};

// With no module lacking a mode: just this run, save as default (writing to
// `config_target_path`), keep editing. With some: keep editing, start anyway.
std::vector<SaveOption> save_options(std::size_t unset_count, const std::u32string& config_target_path);

// The overlay's page; its focus is the selected option's line. `unset_listed`
// holds (id, class name) of the first unset modules (at most five),
// `unset_count` how many there are in all; `conflicts` describes every pair of
// rows that hold the same tensors with different modes, `conflict_tensors`
// counts those tensors; `selected` the highlighted option, if any.
layout::PageFrame save_frame(const std::vector<std::pair<std::u32string, std::u32string>>& unset_listed,
                             std::size_t unset_count, std::optional<std::size_t> selected,
                             const std::u32string& config_target_path,
                             const std::vector<std::u32string>& conflicts = {},
                             std::size_t conflict_tensors = 0);

// How many unset modules the save overlay lists by name.
inline constexpr std::size_t kSaveListedUnset = 5;

}  // namespace nvx::overlays
