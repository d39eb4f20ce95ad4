// The rows of the Run settings screen: one row per bucket that lists a
// setting, and under an expanded bucket its impactful settings, a divider
// when both tiers are present, and its other settings.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "descriptions.hpp"

namespace nvx::settings {

struct RunItem {
    enum class Kind { Bucket, Setting, Divider };
    Kind kind = Kind::Bucket;
    std::size_t bucket = 0;   // index into Descriptions::buckets
    std::size_t setting = 0;  // a Setting row's index into its bucket's settings
    std::size_t count = 0;    // a Bucket row's number of settings listed
    bool expanded = false;    // a Bucket row's state
};

// `is_expanded(bucket)` is asked once for each bucket that gets a row, in order.
std::vector<RunItem> build_run_items(const Descriptions& descriptions,
                                     const std::function<bool(std::size_t bucket)>& is_expanded);

// What Enter does to a setting, and the hint its row shows: a boolean is
// toggled, an enumerated setting cycles, a list or a number opens an editor.
enum class EditKind { Toggle, Cycle, EditList, EditNumber, NotEditable };
EditKind edit_kind(const Value& value, bool enumerated);

}  // namespace nvx::settings
