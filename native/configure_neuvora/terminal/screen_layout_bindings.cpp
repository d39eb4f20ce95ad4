// terminal_size, row counting, wrapping, the text cursor and the scrolling
// screen composition.
#include <pybind11/pybind11.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "common/functions.hpp"
#include "common/interp.hpp"
#include "common/module_namespace.hpp"
#include "configure_neuvora/registry.hpp"
#include "core/layout/screen_layout.hpp"
#include "core/text/styling.hpp"
#include "screen_compose.hpp"

namespace nvx::configure {
namespace {

using namespace py::literals;

// Visible width of a screen line; a value that is not text goes through the
// module's `strip_ansi`, which raises the interpreter's error for it.
std::size_t visible_width_of(const py::handle& line) {
    if (is_str(line)) return style::visible_width(to_u32(line));
    return py::len(call_global("strip_ansi", line));
}

long long as_integer(const py::handle& value) {
    return py::cast<long long>(value);
}

py::object visual_line_count(const py::object& lines, long long columns) {
    if (columns < 1) return py::int_(py::len(lines));
    long long total = 0;
    for (const py::handle line : lines) {
        total += layout::rows_for_width(visible_width_of(line), columns);
    }
    return py::int_(total);
}

py::list wrap_line(const py::object& line, long long columns) {
    py::list rows;
    if (columns >= 1) {
        // Width is checked the interpreter's way first, so non-text fails as it would there.
        const std::size_t width = visible_width_of(line);
        if (width > static_cast<unsigned long long>(columns)) {
            if (auto wrapped = layout::wrap_on_words(to_u32(line), columns)) {
                for (const auto& row : *wrapped) rows.append(from_u32(row));
                return rows;
            }
        }
    }
    rows.append(line);
    return rows;
}

py::object terminal_size() {
    return global("shutil").attr("get_terminal_size")("fallback"_a = py::make_tuple(120, 40));
}

py::object wrap_screen_text(const py::object& screen_text) {
    const long long columns = as_integer(call_global("terminal_size").attr("columns"));
    py::list rows;
    for (const py::handle piece : screen_text.attr("split")("\n")) {
        for (const py::handle row : wrap_line(py::reinterpret_borrow<py::object>(piece), columns)) {
            rows.append(row);
        }
    }
    return from_utf8("\n").attr("join")(rows);
}

std::optional<layout::Focus> focus_of(const py::object& focus) {
    if (focus.is_none()) return std::nullopt;
    py::tuple pair = py::tuple(focus);  // unpacked as `start, end = focus`
    if (pair.size() != 2) raise_unpack_error(2, static_cast<Py_ssize_t>(pair.size()));
    return layout::Focus{as_integer(pair[0]), as_integer(pair[1])};
}

// The terminal's columns and the body budget left by the header and footer,
// read once per frame.
struct FrameSize {
    long long columns;
    long long budget;
};

FrameSize frame_size(const py::object& header_lines, const py::object& footer_lines) {
    py::object size = call_global("terminal_size");
    const long long columns = as_integer(size.attr("columns"));
    const long long terminal_lines = as_integer(size.attr("lines"));
    const long long reserved = as_integer(visual_line_count(header_lines, columns)) +
                               as_integer(visual_line_count(footer_lines, columns));
    return {columns, layout::body_budget(terminal_lines, reserved)};
}

// Terminal rows of each body line, measured at first use only: the window
// logic looks at the lines near the window, so a frame costs the window's
// size, not the body's.
class BodyRows {
public:
    BodyRows(long long count, long long columns, std::function<std::size_t(long long)> width_of)
        : rows_(static_cast<std::size_t>(count), 0), columns_(columns), width_of_(std::move(width_of)) {}

    long long operator()(long long index) {
        const auto count = static_cast<long long>(rows_.size());
        if (index < 0) index += count;
        if (index < 0 || index >= count) throw std::out_of_range("list index out of range");
        long long& rows = rows_[static_cast<std::size_t>(index)];
        if (rows == 0) rows = std::max(1LL, layout::rows_for_width(width_of_(index), columns_));
        return rows;
    }

private:
    std::vector<long long> rows_;
    long long columns_;
    std::function<std::size_t(long long)> width_of_;
};

py::object compose_scrolling_screen(const py::object& header_lines, const py::object& body_lines,
                                    const py::object& footer_lines, const py::object& window_start,
                                    const py::object& focus) {
    const FrameSize frame = frame_size(header_lines, footer_lines);
    const auto count = static_cast<long long>(py::len(body_lines));
    BodyRows rows_of(count, frame.columns,
                     [&](long long index) { return visible_width_of(body_lines[py::int_(index)]); });
    const layout::Window window = layout::place_window(count, frame.budget, as_integer(window_start),
                                                       focus_of(focus), std::ref(rows_of));

    py::list lines;
    for (const py::handle line : header_lines) lines.append(line);
    if (window.start > 0) lines.append(from_u32(style::dim(U"  ^^^^ more above ^^^^")));
    for (long long i = window.start; i < window.end; ++i) lines.append(body_lines[py::int_(i)]);
    if (window.end < count) lines.append(from_u32(style::dim(U"  vvvv more below vvvv")));
    for (const py::handle line : footer_lines) lines.append(line);
    return py::make_tuple(from_utf8("\n").attr("join")(lines), py::int_(window.start));
}

}  // namespace

std::pair<py::str, long long> compose_lazy_screen(const py::list& header_lines, long long count,
                                                  const BodyLine& body_line, const py::list& footer_lines,
                                                  long long window_start,
                                                  const std::optional<layout::Focus>& focus) {
    const FrameSize frame = frame_size(header_lines, footer_lines);
    BodyRows rows_of(count, frame.columns,
                     [&](long long index) { return style::visible_width(body_line(index)); });
    const layout::Window window =
        layout::place_window(count, frame.budget, window_start, focus, std::ref(rows_of));

    std::u32string text;
    bool first = true;
    const auto add = [&](const std::u32string& line) {
        if (!first) text += U'\n';
        first = false;
        text += line;
    };
    for (const py::handle line : header_lines) add(to_u32(line));
    if (window.start > 0) add(style::dim(U"  ^^^^ more above ^^^^"));
    for (long long i = window.start; i < window.end; ++i) add(body_line(i));
    if (window.end < count) add(style::dim(U"  vvvv more below vvvv"));
    for (const py::handle line : footer_lines) add(to_u32(line));
    return {from_u32(text), window.start};
}

void register_screen_layout(py::module_& m) {
    def(m, "terminal_size", {}, nullptr, [](Args&) { return terminal_size(); });
    def(m, "get_visual_line_count", {"lines", "terminal_columns"},
        "Count rendered terminal rows, including wrapped long lines.",
        [](Args& a) { return visual_line_count(a[0], as_integer(a[1])); });
    def(m, "wrap_ansi_line_on_words", {"line", "terminal_columns"},
        "Wrap one ANSI-colored line on word boundaries for terminal display.",
        [](Args& a) { return wrap_line(a[0], as_integer(a[1])); });
    def(m, "wrap_screen_text_for_terminal", {"screen_text"},
        "Wrap full screen text to terminal width without mid-word breaks.",
        [](Args& a) { return wrap_screen_text(a[0]); });
    def(m, "render_text_with_cursor", {"text", "cursor_index"},
        "Render text with a CLI-style inverted-character cursor.",
        [](Args& a) { return from_u32(layout::render_with_cursor(to_u32(a[0]), as_integer(a[1]))); });
    def(m, "compose_scrolling_screen",
        {"header_lines", "body_lines", "footer_lines", "window_start", Param("focus", py::none())},
        "Join a header + windowed body + footer into one screen string.\n\n"
        "    Body rows may wrap to more than one terminal row, so the window is measured\n"
        "    in *rendered* rows (after wrapping), not logical lines \u2014 otherwise a narrow\n"
        "    terminal pushes the footer and budget line off-screen.\n    ",
        [](Args& a) { return compose_scrolling_screen(a[0], a[1], a[2], a[3], a[4]); });
}

}  // namespace nvx::configure
