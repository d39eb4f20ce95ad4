// The Run settings screen as a frame: the tab bar and title over a rule, one
// body line per run item, and a rule over the key hints (or the description
// of the setting asked about).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "core/layout/frame.hpp"
#include "core/settings/run_items.hpp"

namespace nvx::screens {

// When each header and footer line gives way on a short terminal: the blank
// line first, then the title, the header's rule and the footer's; the hint
// line, and the status line a session adds under it, only when the body would
// get no row at all. The tab bar stays.
namespace run_ranks {
inline constexpr int kTabBar = 0;
inline constexpr int kBlank = 1;
inline constexpr int kTitle = 2;
inline constexpr int kHeaderRule = 3;
inline constexpr int kFooterRule = 5;
inline constexpr int kHint = layout::kGivesWayLast + 1;
inline constexpr int kStatus = layout::kGivesWayLast + 2;
}  // namespace run_ranks

enum class RunHint { None, Cycles, Toggles };
// "(Enter cycles)" for an enumerated setting, else "(Enter toggles)" for a boolean.
RunHint run_hint(bool enumerated, const settings::Value& value);

// One body line's parts, as the row holds them (texts from outside are drawn
// with their control characters escaped).
struct RunRow {
    settings::RunItem::Kind kind = settings::RunItem::Kind::Setting;
    bool selected = false;
    std::u32string name;   // the bucket's or the setting's
    std::u32string count;  // a bucket's number of settings
    bool expanded = false;
    std::u32string value_text;  // a setting's value as shown
    RunHint hint = RunHint::None;
};

// `row(i)` gives body line i's parts when the line is drawn; `described` is
// the setting whose description replaces the key hints, with its help text.
layout::ScreenFrame run_settings_frame(
    long long rows, std::function<RunRow(long long)> row,
    const std::optional<std::pair<std::u32string, std::u32string>>& described,
    std::optional<layout::Focus> focus);

}  // namespace nvx::screens
