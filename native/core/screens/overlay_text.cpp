#include "overlay_text.hpp"

#include <algorithm>

#include "core/text/display_text.hpp"
#include "core/text/styling.hpp"

namespace nvx::overlays {
namespace {

using style::color_text;
using style::dim;

std::u32string title(const std::u32string& text) {
    return U"  " + color_text(text, style::kColorTitle);
}

std::u32string repeated(char32_t c, std::size_t count) {
    return std::u32string(count, c);
}

const std::u32string kBlock = U"\u2588\u2588";

}  // namespace

Lines help_lines() {
    auto dendrify = [](const std::u32string& text) { return color_text(text, style::kColorDendrify); };
    auto track = [](const std::u32string& text) { return color_text(text, style::kColorTrack); };
    return {
        U"",
        title(U"Keys"),
        U"",
        dim(U"  Targets screen"),
        U"   p / t     dendrify / track this module",
        U"   P / T     dendrify / track every module of this type",
        U"   x         clear this module (falls back to its type rule)",
        U"   → / ←     expand / collapse a module that will be restructured (↯)",
        U"   y         show / hide the type-rules list",
        U"   h         show the marker & colour legend",
        U"   Enter     open Overrides for a dendrified module",
        U"   /         find a module by id or class name (Enter keep · Esc back)",
        U"   n / N     next / previous module that matches the last search",
        U"",
        dim(U"  Run settings screen"),
        U"   → / ←     expand / collapse a bucket",
        U"   Enter     edit the highlighted setting",
        U"   h         describe the highlighted setting",
        U"",
        dim(U"  Everywhere"),
        U"   ↑↓ / jk   move        Tab  switch panel",
        U"   Home/End  first / last row; ↑↓ PgUp PgDn Home End scroll a tall page",
        U"   s         save & start training",
        U"   q         quit without configuring",
        U"",
        dim(U"  Modes"),
        U"   " + dendrify(U"dendrify") + U" = dendrites are added here during training",
        U"   " + track(U"track") + U"     = no dendrites, the parameters are just counted",
        U"   " + dim(U"↳ inherited") + U" = a mode set on an ancestor applies to the whole subtree",
        U"   " + dim(U"(see the h legend on the Targets panel for how modes resolve)"),
        U"",
        color_text(U"  ? or Esc to close", style::kColorAccent),
    };
}

Lines legend_lines() {
    const std::u32string dendrify_block = color_text(kBlock, style::kColorDendrify);
    const std::u32string track_block = color_text(kBlock, style::kColorTrack);
    const std::u32string attention_block = color_text(kBlock, style::kColorAttention);
    return {
        U"",
        title(U"Targets legend"),
        U"",
        dim(U"  Mode blocks"),
        U"   " + dendrify_block + U"        " + color_text(U"dendrify", style::kColorDendrify) +
            U" — dendrites are added here during training",
        U"   " + track_block + U"        " + color_text(U"track", style::kColorTrack) +
            U" — no dendrites, the parameters are just counted",
        U"",
        dim(U"  Marker prefixes"),
        U"   * " + dendrify_block + U"     mode set directly on this module (by id)",
        U"     " + dendrify_block + U"     set by type name — every module of this class",
        U"   ↳ " + dendrify_block + U"     inherited from an ancestor; applies to the whole subtree",
        U"   ! " + attention_block + U"     has parameters but no mode — needs attention",
        U"   " + color_text(U"⚠", style::kColorAttention) +
            U"         rows share a weight but not a mode (footer and save list them)",
        U"   ↯         will be restructured for NVX before training;",
        U"             target the modules inside it by type (P/T), not by id",
        U"   (none)    structural container with no parameters of its own",
        U"",
        dim(U"  Which mode wins  (highest priority first)"),
        U"   1. inherited — a mode on an ancestor applies to its whole",
        U"      subtree; a mode set directly on a descendant is ignored",
        U"      while the ancestor's mode is in effect",
        U"   2. by id — a mode set on this exact module",
        U"   3. by type — a mode set on the module's class name",
        U"   So: inherited  >  by id  >  by type.",
        U"",
        color_text(U"  h or Esc to close", style::kColorAccent),
    };
}

Lines quit_lines() {
    return {
        U"",
        U"",
        U"",
        title(U"Quit without configuring?"),
        U"",
        dim(U"  Training will not start. Re-run to configure again, or set"),
        dim(U"  configuration_confirmed=True to skip this screen."),
        U"",
        U"  " + color_text(U"[y] quit", style::kColorAttention) + U"     " + dim(U"[n] keep configuring"),
    };
}

Lines editing_help_lines() {
    return {
        U"",
        dim(U"  Editing"),
        U"   u         undo the last rule change (p t P T x)     Ctrl-R  redo it",
        U"   !         jump to the next module that needs a mode",
        U"   Del / ⌫   in Overrides: remove this scope's value of a setting",
        U"   Home/End  in a number editor: cursor to the start / end",
    };
}

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
    for (const auto& [name, count] : classes) out += name + U" (" + display::decimal(count) + U"), ";
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
    lines.push_back(U"  " + dim(U"┌─ Type rules " + repeated(U'─', width - 13) + U"┐"));
    for (const auto& row : rows) {
        lines.push_back(U"  " + dim(U"│ ") + row.styled + repeated(U' ', width - row.plain.size() - 1) +
                        dim(U"│"));
    }
    lines.push_back(U"  " + dim(U"└" + repeated(U'─', width) + U"┘"));
    lines.push_back(U"  " + color_text(U"y or Esc to close", style::kColorAccent));
    return lines;
}

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

Lines save_lines(const std::vector<std::pair<std::u32string, std::u32string>>& unset_listed,
                 std::size_t unset_count, const std::function<bool(std::size_t)>& selected,
                 const std::u32string& config_target_path, const std::vector<std::u32string>& conflicts,
                 std::size_t conflict_tensors) {
    Lines lines{U"", U"  " + color_text(U"Save configuration", style::kColorTitle), U""};
    if (!conflicts.empty()) {
        const std::u32string noun = conflict_tensors == 1 ? U" shared tensor gets" : U" shared tensors get";
        lines.push_back(
            color_text(U"  ⚠  " + display::decimal(conflict_tensors) + noun + U" more than one mode",
                       style::kColorAttention));
        lines.push_back(U"");
        for (const std::u32string& conflict : conflicts) lines.push_back(U"      " + dim(conflict));
        lines.push_back(U"");
        lines.push_back(dim(U"  These rows hold one tensor between them: give them the same mode."));
        lines.push_back(U"");
    }
    const std::u32string pointer_on = color_text(U"  ▸ ", style::kColorTitle);
    const std::u32string pointer_off = U"    ";

    if (unset_count == 0) {
        lines.push_back(dim(U"  Start training with this configuration:"));
        lines.push_back(U"");
        const std::pair<std::u32string, std::u32string> options[] = {
            {U"just this run", U"don't touch my saved config"},
            {U"and save it as default",
             U"write it to " + config_target_path + U", skip this screen next time"},
            {U"Keep editing", U""},
        };
        for (std::size_t i = 0; i < 3; ++i) {
            const bool on = selected(i);
            const auto& [label, hint] = options[i];
            std::u32string line =
                (on ? pointer_on : pointer_off) + (on ? color_text(label, style::kColorTitle) : label);
            if (!hint.empty()) line += dim(U"  — " + hint);
            lines.push_back(line);
        }
    } else {
        const std::u32string noun = unset_count == 1 ? U"module has" : U"modules have";
        lines.push_back(
            color_text(U"  ⚠  " + display::decimal(unset_count) + U" " + noun + U" parameters but no mode",
                       style::kColorAttention));
        lines.push_back(U"");
        for (const auto& [id, type_name] : unset_listed) {
            lines.push_back(U"      " + dim(id + U"   [" + type_name + U"]"));
        }
        if (unset_count > kSaveListedUnset) {
            lines.push_back(U"      " +
                            dim(U"(+" + display::decimal(unset_count - kSaveListedUnset) + U" more)"));
        }
        lines.push_back(U"");
        lines.push_back(dim(U"  These parameters get no dendrites and are not tracked. Usually a mistake."));
        lines.push_back(U"");
        const std::u32string labels[] = {
            U"Keep editing",
            U"Start anyway — I know these " + display::decimal(unset_count) + U" have no mode",
        };
        for (std::size_t i = 0; i < 2; ++i) {
            const bool on = selected(i);
            lines.push_back((on ? pointer_on : pointer_off) +
                            (on ? color_text(labels[i], style::kColorTitle) : dim(labels[i])));
        }
    }
    lines.push_back(U"");
    lines.push_back(U"");
    lines.push_back(dim(U"  ↑↓/jk move · Enter choose · Esc / x back to editing"));
    return lines;
}

}  // namespace nvx::overlays
