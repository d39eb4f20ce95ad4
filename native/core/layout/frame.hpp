// A frame as the screens and overlays build it, before it meets a terminal:
// every line knows what it is and when it gives way, so composing and fitting
// a frame never has to read its text back.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "screen_layout.hpp"

namespace nvx::layout {

// The terminal's size, read once per frame by the caller.
struct TerminalSize {
    long long columns;
    long long lines;
};

// How a header or footer line is shown when the terminal is narrow.
enum class LineKind {
    Text,  // wraps on words
    Rule,  // a horizontal rule: cut to the width, never wrapped
};

// When a header or footer line gives way on a terminal too short for the
// whole frame: 0 never; otherwise rank 1 goes first, then rank 2, and so on.
// Lines ranked from kGivesWayLast on go only when the body would get no row.
inline constexpr int kGivesWayLast = 100;

struct FrameLine {
    std::u32string text;  // styled
    int gives_way = 0;
    LineKind kind = LineKind::Text;
};

// Body line `index` (0 <= index < count), drawn on demand; the reference stays
// valid until the next call.
using BodyLine = std::function<const std::u32string&(long long index)>;

// A screen: a fixed header and footer around a scrolling body whose window
// keeps `focus` (the lines of the selected row) in view.
struct ScreenFrame {
    std::vector<FrameLine> header;
    long long body_count = 0;
    BodyLine body_line;
    std::vector<FrameLine> footer;
    std::optional<Focus> focus;
};

// An overlay page: whole lines, shown as they are when they fit, else as a
// window that keeps `focus` (the highlighted choice, when there is one) in view.
struct PageFrame {
    std::vector<std::u32string> lines;
    std::optional<Focus> focus;
};

}  // namespace nvx::layout
