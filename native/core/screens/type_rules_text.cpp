#include "type_rules_text.hpp"

#include <algorithm>

#include "core/text/display_text.hpp"
#include "core/text/styling.hpp"

namespace nvx::overlays {
namespace {

using style::color_text;
using style::dim;

}  // namespace

using display::decimal;

std::u32string type_rule_arrow(const std::u32string& verb) {
    return U"→ " + verb;
}

TypeRuleRow type_rule_row(const std::u32string& type_name, const std::u32string& verb,
                          const std::u32string& colored_arrow, const std::u32string& count) {
    return {type_name + U" → " + verb + U"  (" + count + U")",
            type_name + U" " + colored_arrow + dim(U"  (" + count + U")")};
}

TypeRuleRow type_rule_hint(const std::u32string& text) {
    const std::u32string indented = U"  " + text;
    return {indented, dim(indented)};
}

std::u32string near_miss_text(const std::vector<std::pair<std::u32string, std::size_t>>& classes, bool more,
                              const std::u32string& rule) {
    std::u32string out = U"also in this model: ";
    for (const auto& [name, count] : classes) out += name + U" (" + decimal(count) + U"), ";
    if (more) out += U"…, ";
    const bool one = classes.size() == 1 && !more;
    return out + (one ? U"a " + rule + U" subclass" : rule + U" subclasses");
}

std::u32string matches_nothing_text() {
    return U"no module in this model has this class";
}

Lines type_rules_box(const std::vector<TypeRuleRow>& rules) {
    std::vector<TypeRuleRow> rows = rules;
    if (rows.empty()) {
        const std::u32string placeholder = U"none yet — P / T on a row sets one";
        rows.push_back({placeholder, dim(placeholder)});
    }
    std::size_t longest = 0;
    for (const auto& row : rows) longest = std::max(longest, row.plain.size());
    const std::size_t width = std::max<std::size_t>(38, longest + 2);

    Lines lines;
    lines.push_back(U"  " + dim(U"┌─ Type rules " + std::u32string(width - 13, U'─') + U"┐"));
    for (const auto& row : rows) {
        lines.push_back(U"  " + dim(U"│ ") + row.styled + std::u32string(width - row.plain.size() - 1, U' ') +
                        dim(U"│"));
    }
    lines.push_back(U"  " + dim(U"└" + std::u32string(width, U'─') + U"┘"));
    lines.push_back(U"  " + color_text(U"y or Esc to close", style::kColorAccent));
    return lines;
}

}  // namespace nvx::overlays
