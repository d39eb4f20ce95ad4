// Putting a frame on the terminal. The screens' own composition keeps five
// rows back and always shows the whole header and footer around a body window
// that keeps the focus in view; a frame shown by the session must also fit the
// terminal, so where that composition does not fit, header and footer lines
// give way (frame_fit.hpp), and an overlay page becomes a window.
#pragma once

#include "frame.hpp"
#include "frame_fit.hpp"

namespace nvx::layout {

// Rows of body a screen keeps before its header and footer lines give way.
inline constexpr long long kWantedBodyRows = 3;

// The screens' own composition of `frame` (compose_scrolling_screen): all
// header lines, the dimmed "more above" mark when lines are hidden above, the
// body window, the "more below" mark, all footer lines, joined with "\n". The
// body budget is the terminal's lines less the header's and footer's rendered
// rows and five more; the window moves from `window_start` only as far as the
// focus needs. Returns the text and the window start used. Body lines are
// drawn only as far as the window logic looks at them.
FittedFrame compose_screen(const ScreenFrame& frame, long long window_start, TerminalSize size);

// `frame` as a session shows it: the too-small frame below the minimum size;
// the screens' own composition when it fits the terminal and leaves the body
// kWantedBodyRows rows (or all of its own); otherwise fitted, its header and
// footer lines giving way by rank and rules cut to the width. The body window
// is placed once, from `window_start`, for the frame that is shown.
FittedFrame show_screen(const ScreenFrame& frame, long long window_start, TerminalSize size);

// Rows the lines take once wrapped on words.
long long wrapped_rows(const std::vector<FrameLine>& lines, long long columns);

// An overlay page as a session shows it: the too-small frame below the
// minimum size, else fitted (fit_window).
FittedFrame show_page(const PageFrame& page, long long window_start, TerminalSize size);

}  // namespace nvx::layout
