// Frames that never outgrow the terminal. The screens' own composition keeps
// five rows back and always shows its header and footer; on a short or narrow
// terminal that is more than there is. These helpers measure a frame the way
// the terminal will show it (after word wrapping) and, when it does not fit,
// make it fit: a tall overlay becomes a window with scroll marks, and a screen
// lets its header and footer lines give way, least useful first, before its
// body does. The last row of the terminal is left for the cursor that the
// frame's closing line end moves to.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "frame.hpp"
#include "screen_layout.hpp"

namespace nvx::layout {

// Below this size a frame shows only how much room it needs.
inline constexpr long long kMinColumns = 30;
inline constexpr long long kMinLines = 8;

bool too_small(long long columns, long long lines);
// The frame shown when `too_small`: what the terminal is and what it needs.
std::u32string too_small_frame(long long columns, long long lines);

// Rows a frame may take on a terminal of `lines` rows.
long long frame_rows_available(long long lines);

// The terminal rows of one line, as word wrapping shows it.
std::vector<std::u32string> terminal_rows(const std::u32string& line, long long columns);
// Terminal rows of a whole frame (lines separated by "\n").
long long frame_rows(const std::u32string& text, long long columns);

// Splits a frame into its lines.
std::vector<std::u32string> split_lines(const std::u32string& text);

// Each line of `text` as word wrapping shows it at `columns` (a line that
// fits, or that wrapping leaves whole, stays as it is).
std::u32string wrapped_text(const std::u32string& text, long long columns);

struct FittedFrame {
    std::u32string text;     // rows joined with "\n"
    long long window_start;  // first line shown
};

// The page's lines as they are when they fit in `rows` terminal rows;
// otherwise the window of whole lines starting near `window_start` that keeps
// the page's focus in view, between the dimmed "more above" / "more below"
// marks. A window start past the end is pulled back so the last line is at the
// bottom.
FittedFrame fit_window(const PageFrame& page, long long window_start, long long columns, long long rows);

using ScreenLine = FrameLine;
using BodyText = BodyLine;

// A screen fitted into `rows` terminal rows: lines of kind Rule are cut to the
// width, and header and footer lines give way, rank by rank, until the body
// gets `wanted_body_rows` rows (or all of its own, when fewer) beside the
// scroll marks, or one row once only the last lines are left. The body window
// keeps `focus` in view, as the screens' composition does; a body line taller
// than the window shows its first rows.
FittedFrame fit_screen(const std::vector<ScreenLine>& header, long long body_count, const BodyText& body_line,
                       const std::vector<ScreenLine>& footer, long long window_start,
                       const std::optional<Focus>& focus, long long columns, long long rows,
                       long long wanted_body_rows);

// The line cut to its first `columns` visible characters, style codes kept.
std::u32string clip_to_width(const std::u32string& line, long long columns);

// Terminal rows of a header or footer line in a fitted screen (rules cut to the width).
long long fitted_line_rows(const FrameLine& line, long long columns);

}  // namespace nvx::layout
