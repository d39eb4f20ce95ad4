#include "run_frame.hpp"

#include <memory>

#include "core/text/display_text.hpp"
#include "core/text/styling.hpp"
#include "targets_text.hpp"

namespace nvx::screens {
namespace {

using layout::FrameLine;
using layout::LineKind;

const std::u32string& pointer(bool selected) {
    static const std::u32string marked = style::color_text(U"> ", style::kColorTitle);
    static const std::u32string blank = U"  ";
    return selected ? marked : blank;
}

std::u32string drawn(const std::u32string& text) {
    return display::escape_controls(text);
}

std::u32string run_row_line(const RunRow& row) {
    switch (row.kind) {
        case settings::RunItem::Kind::Bucket: {
            static const std::u32string open = style::color_text(U"\u25be", style::kColorAccent);
            static const std::u32string closed = style::color_text(U"\u25b8", style::kColorAccent);
            return pointer(row.selected) + (row.expanded ? open : closed) + U" " + drawn(row.name) + U" " +
                   style::dim(U"(" + drawn(row.count) + U")");
        }
        case settings::RunItem::Kind::Divider: {
            // No pointer, even when selected.
            static const std::u32string line = U"     " + style::dim(U"\u2500 rarely changed \u2500");
            return line;
        }
        case settings::RunItem::Kind::Setting:
            break;
    }
    static const std::u32string cycles = style::dim(U"  (Enter cycles)");
    static const std::u32string toggles = style::dim(U"  (Enter toggles)");
    std::u32string line = pointer(row.selected);
    line += U"  ";
    line += drawn(row.name);
    line += U" = ";
    line += drawn(row.value_text);
    if (row.hint == RunHint::Cycles) line += cycles;
    if (row.hint == RunHint::Toggles) line += toggles;
    return line;
}

}  // namespace

RunHint run_hint(bool enumerated, const settings::Value& value) {
    if (enumerated) return RunHint::Cycles;
    return value.kind == settings::Value::Kind::Bool ? RunHint::Toggles : RunHint::None;
}

layout::ScreenFrame run_settings_frame(
    long long rows, std::function<RunRow(long long)> row,
    const std::optional<std::pair<std::u32string, std::u32string>>& described,
    std::optional<layout::Focus> focus) {
    layout::ScreenFrame frame;
    frame.header = {
        FrameLine{targets::tab_bar(false), run_ranks::kTabBar},
        FrameLine{U"", run_ranks::kBlank},
        FrameLine{style::dim(U"  Run settings \u2014 run-wide configuration"), run_ranks::kTitle},
        FrameLine{style::horizontal_rule(), run_ranks::kHeaderRule, LineKind::Rule},
    };
    const std::u32string hint =
        described ? style::dim(drawn(described->first) + U" \u2014 " + drawn(described->second))
                  : style::dim(
                        U"\u2192 expand \u00b7 \u2190 collapse   Enter edit   h describe   \u2191\u2193/jk "
                        U"move   Tab switch panel   s start");
    frame.footer = {
        FrameLine{style::horizontal_rule(), run_ranks::kFooterRule, LineKind::Rule},
        FrameLine{hint, run_ranks::kHint},
    };
    frame.body_count = rows;
    auto drawn_line = std::make_shared<std::u32string>();
    frame.body_line = [row = std::move(row), drawn_line](long long index) -> const std::u32string& {
        *drawn_line = run_row_line(row(index));
        return *drawn_line;
    };
    frame.focus = focus;
    return frame;
}

}  // namespace nvx::screens
