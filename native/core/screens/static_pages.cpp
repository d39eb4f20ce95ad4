#include "static_pages.hpp"

#include <algorithm>

#include "core/keys/key_table.hpp"
#include "core/text/styling.hpp"

namespace nvx::overlays {
namespace {

using style::color_text;
using style::dim;
const std::u32string kBlock = U"\u2588\u2588";

// Width of the keys column of the key reference.
constexpr std::size_t kKeysColumn = 10;

std::u32string key_row(const keys::HelpRowText& row) {
    std::u32string keys = row.keys;
    keys.resize(std::max(kKeysColumn, keys.size() + 1), U' ');
    return U"   " + keys + row.text;
}

// The section's title and rows; nothing when it has no row to show.
Lines help_section(keys::HelpSection section, bool with_added) {
    Lines lines;
    for (const keys::HelpRowText& row : keys::help_rows()) {
        if (row.section == section && (row.original || with_added)) lines.push_back(key_row(row));
    }
    if (!lines.empty()) lines.insert(lines.begin(), dim(U"  " + keys::help_section_title(section)));
    return lines;
}

// The key reference: the screens' keys, those that act everywhere and the
// modes; `with_added` also lists the keys added to the original reference,
// the editing keys in a section of their own after the modes.
Lines key_reference(bool with_added) {
    auto dendrify = [](const std::u32string& text) { return color_text(text, style::kColorDendrify); };
    auto track = [](const std::u32string& text) { return color_text(text, style::kColorTrack); };
    Lines lines = {U"", title(U"Keys"), U""};
    for (const keys::HelpSection section :
         {keys::HelpSection::Targets, keys::HelpSection::RunSettings, keys::HelpSection::Everywhere}) {
        for (auto& line : help_section(section, with_added)) lines.push_back(std::move(line));
        lines.push_back(U"");
    }
    for (auto line : {
             dim(U"  Modes"),
             U"   " + dendrify(U"dendrify") + U" = dendrites are added here during training",
             U"   " + track(U"track") + U"     = no dendrites, the parameters are just counted",
             U"   " + dim(U"↳ inherited") + U" = a mode set on an ancestor applies to the whole subtree",
             U"   " + dim(U"(see the h legend on the Targets panel for how modes resolve)"),
         }) {
        lines.push_back(std::move(line));
    }
    const Lines editing = help_section(keys::HelpSection::Editing, with_added);
    if (!editing.empty()) lines.push_back(U"");
    for (const auto& line : editing) lines.push_back(line);
    lines.push_back(U"");
    lines.push_back(color_text(U"  ? or Esc to close", style::kColorAccent));
    return lines;
}

}  // namespace

layout::PageFrame help_page() {
    return {key_reference(false), std::nullopt};
}

layout::PageFrame session_help_page() {
    return {key_reference(true), std::nullopt};
}

layout::PageFrame legend_page() {
    const std::u32string dendrify_block = color_text(kBlock, style::kColorDendrify);
    const std::u32string track_block = color_text(kBlock, style::kColorTrack);
    const std::u32string attention_block = color_text(kBlock, style::kColorAttention);
    return {{
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
    }};
}

layout::PageFrame quit_page() {
    return {{
        U"",
        U"",
        U"",
        title(U"Quit without configuring?"),
        U"",
        dim(U"  Training will not start. Re-run to configure again, or set"),
        dim(U"  configuration_confirmed=True to skip this screen."),
        U"",
        U"  " + color_text(U"[y] quit", style::kColorAttention) + U"     " + dim(U"[n] keep configuring"),
    }};
}

}  // namespace nvx::overlays
