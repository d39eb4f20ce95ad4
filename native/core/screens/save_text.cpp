#include "save_text.hpp"

#include <algorithm>

#include "core/text/display_text.hpp"
#include "core/text/styling.hpp"

namespace nvx::overlays {
namespace {

using style::color_text;
using style::dim;

}  // namespace

using display::decimal;

Lines save_lines(const std::vector<std::pair<std::u32string, std::u32string>>& unset_listed,
                 std::size_t unset_count, const std::function<bool(std::size_t)>& selected,
                 const std::u32string& config_target_path, const std::vector<std::u32string>& conflicts,
                 std::size_t conflict_tensors) {
    Lines lines{U"", U"  " + color_text(U"Save configuration", style::kColorTitle), U""};
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
        const std::u32string labels[] = {
            U"Keep editing",
            U"Start anyway — I know these " + decimal(unset_count) + U" have no mode",
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
