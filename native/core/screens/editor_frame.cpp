#include "editor_frame.hpp"

#include <memory>
#include <optional>
#include <vector>

#include "core/layout/frame_fit.hpp"
#include "core/text/display_text.hpp"
#include "core/text/styling.hpp"
#include "overrides_frame.hpp"

namespace nvx::screens {
namespace {

using layout::FrameLine;

// Title, blank, value, blank, hint; the blank lines give way first, the hint
// only when the value would get no row.
layout::ScreenFrame editor_frame(const editors::Field<settings::Name>& setting_name,
                                 const std::function<std::u32string()>& value_line,
                                 const std::u32string& keys) {
    const std::u32string title =
        U"  " +
        style::color_text(U"Edit " + display::escape_controls(setting_name.get().text), style::kColorTitle);
    layout::ScreenFrame frame;
    frame.header = {FrameLine{title, 0}, FrameLine{U"", 1}};
    frame.body_count = 1;
    auto value = std::make_shared<const std::u32string>(U"  " + value_line());
    frame.body_line = [value](long long) -> const std::u32string& { return *value; };
    frame.footer = {FrameLine{U"", 1}, FrameLine{style::dim(keys), layout::kGivesWayLast}};
    frame.focus = layout::Focus{0, 1};
    return frame;
}

std::u32string fitted_editor_frame(const layout::ScreenFrame& frame, long long columns, long long lines) {
    if (layout::too_small(columns, lines)) return layout::too_small_frame(columns, lines);
    std::u32string text;
    for (const FrameLine& line : frame.header) text += line.text + U"\n";
    for (long long i = 0; i < frame.body_count; ++i) text += frame.body_line(i) + U"\n";
    for (const FrameLine& line : frame.footer) text += line.text + U"\n";
    text.pop_back();
    const long long rows = layout::frame_rows_available(lines);
    if (layout::frame_rows(text, columns) <= rows) return text;
    return layout::fit_screen(frame.header, frame.body_count, frame.body_line, frame.footer, 0, frame.focus,
                              columns, rows, 1)
        .text;
}

}  // namespace

layout::ScreenFrame scalar_editor_frame(const editors::ScalarEditor& state) {
    return editor_frame(
        state.setting_name, [&] { return editors::text_with_cursor(state.buffer, state.cursor); },
        U"  Enter save \u00b7 Esc cancel");
}

layout::ScreenFrame list_editor_frame(const editors::ListEditor& state) {
    return editor_frame(
        state.setting_name, [&] { return editors::list_line(state); },
        U"  \u2190/\u2192 move \u00b7 Enter edit/select \u00b7 Backspace/Delete remove \u00b7 Esc cancel");
}

std::u32string editor_frame_text(const layout::ScreenFrame& frame, long long columns, long long lines,
                                 const std::u32string& notice) {
    std::u32string text = fitted_editor_frame(frame, columns, lines);
    if (!notice.empty()) {
        const std::u32string line = overlays::message_line(notice);
        if (layout::frame_rows(text, columns) + layout::frame_rows(line, columns) <=
            layout::frame_rows_available(lines)) {
            text += U"\n" + line;
        }
    }
    // Each line as word wrapping shows it on the terminal.
    return layout::wrapped_text(text, columns);
}

}  // namespace nvx::screens
