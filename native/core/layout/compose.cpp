#include "compose.hpp"

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <vector>

#include "core/text/styling.hpp"

namespace nvx::layout {
namespace {

// Terminal rows of each body line as the composition counts them (visible
// width over the columns, at least one), measured at first use only: the
// window logic looks at the lines near the window, so a frame costs the
// window's size, not the body's.
class BodyRows {
public:
    BodyRows(const ScreenFrame& frame, long long columns)
        : rows_(static_cast<std::size_t>(frame.body_count), 0), columns_(columns), line_(frame.body_line) {}

    long long operator()(long long index) {
        const auto count = static_cast<long long>(rows_.size());
        if (index < 0) index += count;
        if (index < 0 || index >= count) throw std::out_of_range("list index out of range");
        long long& rows = rows_[static_cast<std::size_t>(index)];
        if (rows == 0) rows = std::max(1LL, rows_for_width(style::visible_width(line_(index)), columns_));
        return rows;
    }

private:
    std::vector<long long> rows_;  // 0: not measured yet
    long long columns_;
    const BodyLine& line_;
};

// Rows the lines take as the composition counts them.
long long counted_rows(const std::vector<FrameLine>& lines, long long columns) {
    long long rows = 0;
    for (const FrameLine& line : lines) rows += rows_for_width(style::visible_width(line.text), columns);
    return rows;
}

}  // namespace

long long wrapped_rows(const std::vector<FrameLine>& lines, long long columns) {
    long long rows = 0;
    for (const FrameLine& line : lines)
        rows += static_cast<long long>(terminal_rows(line.text, columns).size());
    return rows;
}

FittedFrame compose_screen(const ScreenFrame& frame, long long window_start, TerminalSize size) {
    const long long reserved =
        counted_rows(frame.header, size.columns) + counted_rows(frame.footer, size.columns);
    BodyRows rows_of(frame, size.columns);
    const Window window = place_window(frame.body_count, body_budget(size.lines, reserved), window_start,
                                       frame.focus, std::ref(rows_of));

    std::u32string text;
    bool first = true;
    const auto add = [&](const std::u32string& line) {
        if (!first) text += U'\n';
        first = false;
        text += line;
    };
    for (const FrameLine& line : frame.header) add(line.text);
    if (window.start > 0) add(style::dim(U"  ^^^^ more above ^^^^"));
    for (long long i = window.start; i < window.end; ++i) add(frame.body_line(i));
    if (window.end < frame.body_count) add(style::dim(U"  vvvv more below vvvv"));
    for (const FrameLine& line : frame.footer) add(line.text);
    return {std::move(text), window.start};
}

FittedFrame show_screen(const ScreenFrame& frame, long long window_start, TerminalSize size) {
    if (too_small(size.columns, size.lines)) return {too_small_frame(size.columns, size.lines), window_start};
    const long long rows = frame_rows_available(size.lines);
    const long long reserved =
        wrapped_rows(frame.header, size.columns) + wrapped_rows(frame.footer, size.columns);
    // Whether the header and footer leave the body its rows is known before
    // the window is placed; only a frame that passes is composed (and, in the
    // rare case that its body lines wrap into more rows than they were
    // counted at, found too tall and fitted after all).
    if (body_budget(size.lines, reserved) >= std::min(kWantedBodyRows, frame.body_count)) {
        FittedFrame composed = compose_screen(frame, window_start, size);
        if (frame_rows(composed.text, size.columns) <= rows) return composed;
    }
    return fit_screen(frame.header, frame.body_count, frame.body_line, frame.footer, window_start,
                      frame.focus, size.columns, rows, kWantedBodyRows);
}

FittedFrame show_page(const PageFrame& page, long long window_start, TerminalSize size) {
    if (too_small(size.columns, size.lines)) return {too_small_frame(size.columns, size.lines), window_start};
    return fit_window(page, window_start, size.columns, frame_rows_available(size.lines));
}

}  // namespace nvx::layout
