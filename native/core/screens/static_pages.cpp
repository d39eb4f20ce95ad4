#include "static_pages.hpp"

#include <algorithm>

#include "core/text/display_text.hpp"
#include "core/text/styling.hpp"

namespace nvx::overlays {
namespace {

using style::color_text;
using style::dim;
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

}  // namespace nvx::overlays
