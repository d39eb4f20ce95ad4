#include "save_text.hpp"

#include "core/text/display_text.hpp"
#include "core/text/styling.hpp"

namespace nvx::overlays {
namespace {

using display::decimal;
using style::color_text;
using style::dim;

}  // namespace

std::vector<SaveOption> save_options(std::size_t unset_count, const std::u32string& config_target_path) {
    if (unset_count == 0) {
        return {
            {SaveChoice::ThisRun, U"just this run", U"don't touch my saved config", false},
            {SaveChoice::AsDefault, U"and save it as default",
             U"write it to " + config_target_path + U", skip this screen next time", false},
            {SaveChoice::KeepEditing, U"Keep editing", U"", false},
        };
    }
    return {
        {SaveChoice::KeepEditing, U"Keep editing", U"", true},
        {SaveChoice::StartAnyway, U"Start anyway — I know these " + decimal(unset_count) + U" have no mode",
         U"", true},
    };
}

layout::PageFrame save_frame(const std::vector<std::pair<std::u32string, std::u32string>>& unset_listed,
                             std::size_t unset_count, std::optional<std::size_t> selected,
                             const std::u32string& config_target_path,
                             const std::vector<std::u32string>& conflicts, std::size_t conflict_tensors) {
    layout::PageFrame page;
    Lines& lines = page.lines;
    lines = {U"", U"  " + color_text(U"Save configuration", style::kColorTitle), U""};
    if (!conflicts.empty()) {
        const std::u32string noun = conflict_tensors == 1 ? U" shared tensor gets" : U" shared tensors get";
        lines.push_back(color_text(U"  ⚠  " + decimal(conflict_tensors) + noun + U" more than one mode",
                                   style::kColorAttention));
        lines.push_back(U"");
        for (const std::u32string& conflict : conflicts) lines.push_back(U"      " + dim(conflict));
        lines.push_back(U"");
        lines.push_back(dim(U"  These rows hold one tensor between them: give them the same mode."));
        lines.push_back(U"");
    }
    if (unset_count == 0) {
        lines.push_back(dim(U"  Start training with this configuration:"));
        lines.push_back(U"");
    } else {
        const std::u32string noun = unset_count == 1 ? U"module has" : U"modules have";
        lines.push_back(color_text(U"  ⚠  " + decimal(unset_count) + U" " + noun + U" parameters but no mode",
                                   style::kColorAttention));
        lines.push_back(U"");
        for (const auto& [id, type_name] : unset_listed) {
            lines.push_back(U"      " + dim(id + U"   [" + type_name + U"]"));
        }
        if (unset_count > kSaveListedUnset) {
            lines.push_back(U"      " + dim(U"(+" + decimal(unset_count - kSaveListedUnset) + U" more)"));
        }
        lines.push_back(U"");
        lines.push_back(dim(U"  These parameters get no dendrites and are not tracked. Usually a mistake."));
        lines.push_back(U"");
    }
    const std::vector<SaveOption> options = save_options(unset_count, config_target_path);
    for (std::size_t i = 0; i < options.size(); ++i) {
        const SaveOption& option = options[i];
        const bool on = selected == i;
        if (on) {
            const auto at = static_cast<long long>(lines.size());
            page.focus = layout::Focus{at, at + 1};
        }
        std::u32string line = on ? color_text(U"  ▸ ", style::kColorTitle) : U"    ";
        if (on) {
            line += color_text(option.label, style::kColorTitle);
        } else {
            line += option.dim_unselected ? dim(option.label) : option.label;
        }
        if (!option.hint.empty()) line += dim(U"  — " + option.hint);
        lines.push_back(std::move(line));
    }
    lines.push_back(U"");
    lines.push_back(U"");
    lines.push_back(dim(U"  ↑↓/jk move · Enter choose · Esc / x back to editing"));
    return page;
}

}  // namespace nvx::overlays
