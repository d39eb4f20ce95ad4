#include "type_rules_text.hpp"

#include <algorithm>

#include "core/layout/frame_fit.hpp"
#include "core/text/display_text.hpp"
#include "core/text/styling.hpp"

namespace nvx::overlays {
namespace {

using style::color_text;
using style::dim;

// Inside width of a box without rules, and what a row needs besides its text.
constexpr std::size_t kNarrowest = 38;
constexpr std::size_t kRowMargin = 2;
// The two-space indent, the left border with its space, and the right border.
constexpr std::size_t kBoxFrame = 4;

bool starts_with_vowel(const std::u32string& name) {
    if (name.empty()) return false;
    const char32_t first = name.front() | 0x20;  // ASCII lower case
    return first == U'a' || first == U'e' || first == U'i' || first == U'o' || first == U'u';
}

struct Row {
    std::u32string plain;
    std::u32string styled;
    bool rule = false;
    bool override_mark = false;
};

}  // namespace

std::u32string near_miss_text(const std::vector<std::pair<std::u32string, std::size_t>>& classes, bool more,
                              const std::u32string& rule) {
    std::u32string out = U"also in this model: ";
    for (const auto& [name, count] : classes) out += name + U" (" + display::decimal(count) + U"), ";
    if (more) out += U"…, ";
    const bool one = classes.size() == 1 && !more;
    if (!one) return out + rule + U" subclasses";
    return out + (starts_with_vowel(rule) ? U"an " : U"a ") + rule + U" subclass";
}

std::u32string matches_nothing_text() {
    return U"no module in this model has this class";
}

Lines type_rules_box(const std::vector<TypeRuleView>& rules, std::optional<std::size_t> max_columns) {
    std::vector<Row> rows;
    bool any_mark = false;
    for (const TypeRuleView& rule : rules) {
        const std::u32string count = display::decimal(rule.count);
        const std::u32string arrow = U"→ " + rule.verb;
        rows.push_back(
            {rule.name + U" " + arrow + U"  (" + count + U")",
             rule.name + U" " + targets::mode_colored(arrow, rule.color) + dim(U"  (" + count + U")"), true,
             rule.override_mark});
        any_mark = any_mark || rule.override_mark;
        for (const std::u32string& hint : rule.hints) rows.push_back({U"  " + hint, {}, false, false});
    }
    if (rows.empty()) rows.push_back({U"none yet — P / T on a row sets one", {}, false, false});

    std::size_t longest = 0;
    for (const Row& row : rows) longest = std::max(longest, row.plain.size());
    std::size_t width = std::max(kNarrowest, longest + kRowMargin);
    if (max_columns) {
        // The override mark follows the right border of its rule's row.
        const std::size_t mark = any_mark ? style::visible_width(targets::override_mark()) : 0;
        const std::size_t room = *max_columns > kBoxFrame + mark ? *max_columns - kBoxFrame - mark : 0;
        width = std::max<std::size_t>(std::min(width, room), kRowMargin + 1);
    }

    Lines lines;
    const std::size_t top_rule = width > 13 ? width - 13 : 0;
    lines.push_back(U"  " + dim(U"┌─ Type rules " + std::u32string(top_rule, U'─') + U"┐"));
    for (Row& row : rows) {
        if (!row.rule && row.plain.size() + kRowMargin > width) {
            row.plain = row.plain.substr(0, width - kRowMargin - 1) + U"…";
        }
        if (row.styled.empty()) row.styled = dim(row.plain);
        const std::size_t pad = width > row.plain.size() ? width - row.plain.size() - 1 : 0;
        std::u32string line = U"  " + dim(U"│ ") + row.styled + std::u32string(pad, U' ') + dim(U"│");
        if (row.override_mark) line += targets::override_mark();
        lines.push_back(std::move(line));
    }
    lines.push_back(U"  " + dim(U"└" + std::u32string(width, U'─') + U"┘"));
    lines.push_back(U"  " + color_text(U"y or Esc to close", style::kColorAccent));
    return lines;
}

Lines cut_type_rules_box(const Lines& box, long long& first, long long room, long long columns) {
    const auto rules = static_cast<long long>(box.size()) - 3;  // between the top and the bottom of the box
    const auto rule_rows = [&](long long rule) {
        return layout::fitted_line_rows({box[static_cast<std::size_t>(rule + 1)]}, columns);
    };
    first = std::clamp(first, 0LL, rules - 1);
    long long end = first;
    long long used = 0;
    while (end < rules && (end == first || used + rule_rows(end) <= room)) used += rule_rows(end++);
    while (first > 0 && used + rule_rows(first - 1) <= room) used += rule_rows(--first);

    // The "+N more" row inside the box, as wide as its other rows.
    const long long hidden = rules - (end - first);
    const std::u32string note = U"+" + display::decimal(hidden) + U" more (↑↓ scroll)";
    const auto inner = static_cast<long long>(style::visible_width(box.front())) - 4;
    const long long pad = std::max(1LL, inner - static_cast<long long>(note.size()) - 1);
    const std::u32string more =
        U"  " + dim(U"│ ") + dim(note) + std::u32string(static_cast<std::size_t>(pad), U' ') + dim(U"│");

    Lines out{box.front()};
    for (long long rule = first; rule < end; ++rule) out.push_back(box[static_cast<std::size_t>(rule + 1)]);
    if (hidden > 0) out.push_back(layout::clip_to_width(more, columns));
    out.insert(out.end(), box.end() - 2, box.end());
    return out;
}

}  // namespace nvx::overlays
