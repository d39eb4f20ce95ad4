#include "overrides_text.hpp"

#include <algorithm>

#include "core/text/display_text.hpp"
#include "core/text/styling.hpp"

namespace nvx::overlays {
namespace {

using style::color_text;
using style::dim;

}  // namespace


std::u32string overrides_title(bool id_scope, const std::u32string& scope_key) {
    return (id_scope ? U"Overrides — " : U"Overrides — every ") + scope_key;
}

Lines overrides_head(const std::u32string& tab_bar, const std::u32string& title_text) {
    return {tab_bar, U"", U"  " + color_text(title_text, style::kColorAccent), style::horizontal_rule(), U""};
}

std::u32string overrides_empty_line() {
    return U"  " + dim(U"No per-target settings are customizable in this build.");
}

std::u32string override_row(bool selected, const std::u32string& name, const std::u32string& value_text,
                            bool overridden) {
    const std::u32string pointer = selected ? color_text(U"> ", style::kColorTitle) : U"  ";
    const std::u32string note = dim(overridden ? U"(overridden here)" : U"(from run settings)");
    return pointer + name + U" = " + value_text + U"  " + note;
}

std::u32string overrides_describe_line(const std::u32string& name, const std::u32string& description) {
    return dim(name + U" — " + description);
}

std::u32string overrides_key_hint() {
    return dim(U"Enter edit · h describe · ↑↓/jk move · Esc / x close");
}

}  // namespace nvx::overlays
