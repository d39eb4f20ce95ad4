// Fitting screens to the terminal, over code points: row counts of wrapped
// lines, word wrapping that never breaks an SGR escape code, the text-entry
// cursor, and the scrolling body window between a fixed header and footer.
//
// Widths are visible widths: code points left after removing SGR codes.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace nvx::layout {

// Terminal rows a line of visible width `width` takes at `columns` (at least 1;
// always 1 when `columns` < 1).
long long rows_for_width(std::size_t width, long long columns);

// Rows of a line wrapped on words at `columns`. nullopt means "the line as it
// is": it fits, wrapping is disabled, or no row could be produced.
//
// Escape codes inside a row stay in it; codes after the last visible character
// go with the last row; codes before the first visible character of a row
// (line start, skipped spaces, or after a breaking space) belong to no row.
// Leading spaces are dropped and trailing whitespace of each row is removed.
std::optional<std::vector<std::u32string>> wrap_on_words(const std::u32string& line, long long columns);

// The text with the character at `cursor` (clamped to the text) in reverse
// video, or an inverted space after the text when the cursor is at its end.
std::u32string render_with_cursor(const std::u32string& text, long long cursor);

// Body rows available in a frame of `terminal_lines` rows whose header and
// footer take `reserved` rows: five rows are kept back, at least one remains.
long long body_budget(long long terminal_lines, long long reserved);

// The lines that must be visible: [start, end), end exclusive.
struct Focus {
    long long start;
    long long end;
};

struct Window {
    long long start;  // first body line shown
    long long end;    // one past the last body line shown
};

// Rendered rows of body line `index`; indices below 0 count from the end, as
// in a Python list (an index outside the body throws std::out_of_range).
using RowsOf = std::function<long long(long long index)>;

// Places the body window of `count` lines within `budget` rows, starting from
// the caller's previous `window_start`. The window moves only as far as the
// focus requires (scrolling up puts it at the top, down at the bottom); a
// window that reaches the end of the body is filled upward. The first line of
// a window is always shown, even when it alone exceeds the budget.
Window place_window(long long count, long long budget, long long window_start,
                    const std::optional<Focus>& focus, const RowsOf& rows_of);

}  // namespace nvx::layout
