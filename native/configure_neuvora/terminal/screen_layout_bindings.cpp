// terminal_size, row counting, wrapping, the text cursor and the scrolling
// screen composition: conversions around the core's layout.
#include <pybind11/pybind11.h>

#include <string>
#include <unordered_map>

#include "common/functions.hpp"
#include "common/interp.hpp"
#include "configure_neuvora/registry.hpp"
#include "configure_neuvora/seams.hpp"
#include "core/layout/compose.hpp"
#include "core/layout/screen_layout.hpp"
#include "text_adapters.hpp"

namespace nvx::configure {
namespace {

using namespace py::literals;

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
    return seam(Seam::Shutil).attr("get_terminal_size")("fallback"_a = py::make_tuple(120, 40));
}

py::object wrap_screen_text(const py::object& screen_text) {
    const long long columns = as_integer(call_seam(Seam::TerminalSize).attr("columns"));
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

// Header or footer lines; a line that is not text fails as measuring it would.
std::vector<layout::FrameLine> frame_lines(const py::object& lines) {
    std::vector<layout::FrameLine> out;
    for (const py::handle line : lines) {
        visible_width_of(line);
        out.push_back({to_u32(line)});
    }
    return out;
}

py::object compose_scrolling_screen(const py::object& header_lines, const py::object& body_lines,
                                    const py::object& footer_lines, const py::object& window_start,
                                    const py::object& focus) {
    const layout::TerminalSize size = read_terminal_size();
    layout::ScreenFrame frame;
    frame.header = frame_lines(header_lines);
    frame.footer = frame_lines(footer_lines);
    frame.body_count = static_cast<long long>(py::len(body_lines));
    // Only the lines the window logic looks at are read, each once.
    std::unordered_map<long long, std::u32string> read;
    frame.body_line = [&](long long index) -> const std::u32string& {
        auto found = read.find(index);
        if (found != read.end()) return found->second;
        const py::object line = get_item(body_lines, py::int_(index));
        visible_width_of(line);
        return read.emplace(index, to_u32(line)).first->second;
    };
    frame.focus = focus_of(focus);
    const layout::FittedFrame composed = layout::compose_screen(frame, as_integer(window_start), size);
    return py::make_tuple(from_u32(composed.text), py::int_(composed.window_start));
}

}  // namespace

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
