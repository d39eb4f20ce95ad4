#include "overrides_frame.hpp"

#include "core/text/display_text.hpp"
#include "core/text/styling.hpp"
#include "targets_text.hpp"

namespace nvx::overlays {
namespace {

using display::escape_controls;

std::u32string row_line(const OverrideRow& row) {
    const std::u32string pointer = row.selected ? style::color_text(U"> ", style::kColorTitle) : U"  ";
    const std::u32string note = style::dim(row.overridden ? U"(overridden here)" : U"(from run settings)");
    return pointer + escape_controls(row.name) + U" = " + escape_controls(row.value_text) + U"  " + note;
}

}  // namespace

layout::PageFrame overrides_frame(const OverridesPage& page) {
    const std::u32string title =
        (page.id_scope ? U"Overrides \u2014 " : U"Overrides \u2014 every ") + escape_controls(page.scope_key);
    layout::PageFrame frame;
    frame.lines = {targets::tab_bar(true), U"", U"  " + style::color_text(title, style::kColorAccent),
                   style::horizontal_rule(), U""};
    if (page.rows.empty()) {
        frame.lines.push_back(U"  " + style::dim(U"No per-target settings are customizable in this build."));
    }
    for (const OverrideRow& row : page.rows) {
        if (row.selected && !frame.focus) {
            const auto line = static_cast<long long>(frame.lines.size());
            frame.focus = layout::Focus{line, line + 1};
        }
        frame.lines.push_back(row_line(row));
    }
    frame.lines.push_back(U"");
    frame.lines.push_back(
        page.described
            ? style::dim(escape_controls(page.described->first) + U" \u2014 " +
                         escape_controls(page.described->second))
            : style::dim(U"Enter edit \u00b7 h describe \u00b7 \u2191\u2193/jk move \u00b7 Esc / x close"));
    if (!page.notice.empty()) frame.lines.push_back(message_line(page.notice));
    return frame;
}

std::u32string message_line(const std::u32string& message) {
    return style::color_text(U"  " + escape_controls(message), style::kColorAccent);
}

}  // namespace nvx::overlays
