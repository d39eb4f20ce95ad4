#include "plan_text.hpp"

#include <algorithm>
#include <utility>

#include "core/layout/frame_fit.hpp"
#include "core/screens/type_rules_text.hpp"
#include "core/text/display_text.hpp"
#include "core/text/human_count.hpp"
#include "core/text/no_color.hpp"
#include "core/text/styling.hpp"

namespace nvx::plan {
namespace {

using model::Mode;
using style::color_text;
using style::dim;

// Conflicts listed above the tree; the rest are counted.
constexpr std::size_t kConflictsListed = 5;
// The source column is never wider than this share of the width.
constexpr std::size_t kSourceShare = 5;
constexpr std::size_t kNarrowestSource = 8;
// Room the label keeps at least, beside the columns.
constexpr std::size_t kNarrowestLeft = 16;
constexpr std::size_t kNarrowestLabel = 8;
constexpr std::size_t kNarrowestType = 10;
// Room for labels below which the narrowest columns are left out.
constexpr std::size_t kComfortableLeft = 32;
constexpr std::size_t kGap = 2;
constexpr std::size_t kMarkerWidth = 2;

const std::u32string kSharedWith = U"shared with ";

std::u32string ascii(const std::string& text) {
    return std::u32string(text.begin(), text.end());
}

std::u32string verb_or_none(Mode mode) {
    return mode == Mode::None ? std::u32string(U"none") : std::u32string(model::mode_verb(mode));
}

std::u32string count_text(const model::ModuleTable& table, std::size_t row) {
    const model::Count& count = table.own_counts.at(row, model::Field::DirectParamCount);
    return count.machine ? ascii(target::format_human_count(count.value)) : table.count_texts.at(row);
}

std::u32string attention(const std::u32string& text) {
    return color_text(text, style::kColorAttention);
}

// "first, second, …": the texts joined as far as `room` allows, then how many are left.
std::u32string listed_within(const std::vector<std::u32string>& texts, std::size_t room) {
    std::u32string out;
    for (std::size_t k = 0; k < texts.size(); ++k) {
        const std::u32string left =
            U", … +" + display::decimal(static_cast<long long>(texts.size() - k)) + U" more";
        const std::u32string next = (k > 0 ? U", " : U"") + texts[k];
        const bool last = k + 1 == texts.size();
        if (out.size() + next.size() + (last ? 0 : left.size()) > room && k > 0) return out + left;
        out += next;
    }
    return out;
}

// The rows holding one tensor in conflict, each with its mode.
std::u32string holders_text(const Plan& plan, const Conflict& conflict) {
    std::u32string out;
    for (std::size_t k = 0; k < conflict.rows.size(); ++k) {
        if (k > 0) out += k + 1 == conflict.rows.size() ? U" and " : U", ";
        out += shown_id(plan, static_cast<std::size_t>(conflict.rows[k])) + U" (" +
               verb_or_none(conflict.modes[k]) + U")";
    }
    return out;
}

void add(std::vector<Warning>& out, Warning::Kind kind, std::u32string styled) {
    out.push_back(Warning{kind, style::strip_ansi(styled), std::move(styled)});
}

void add_conflicts(std::vector<Warning>& out, const Plan& plan) {
    // Tensors held by the same rows with the same modes (a weight and its bias) read as one line.
    std::size_t listed = 0;
    for (std::size_t k = 0; k < plan.conflicts.size();) {
        std::size_t same = 1;
        while (k + same < plan.conflicts.size() && plan.conflicts[k + same].rows == plan.conflicts[k].rows &&
               plan.conflicts[k + same].modes == plan.conflicts[k].modes) {
            ++same;
        }
        if (listed == kConflictsListed) {
            const std::size_t rest = plan.conflicts.size() - k;
            add(out, Warning::Kind::Conflict,
                attention(U"⚠ " + display::decimal(static_cast<long long>(rest)) +
                          (rest == 1 ? U" more shared tensor" : U" more shared tensors") + U" in conflict"));
            return;
        }
        const std::u32string tensors =
            same == 1 ? U"one tensor is" : display::decimal(static_cast<long long>(same)) + U" tensors are";
        add(out, Warning::Kind::Conflict,
            attention(U"⚠ " + tensors + U" shared by " + holders_text(plan, plan.conflicts[k])));
        ++listed;
        k += same;
    }
}

void add_type_rules(std::vector<Warning>& out, const Plan& plan) {
    for (const TypeRule& rule : plan.type_rules) {
        if (!rule.matches_nothing && rule.near_misses.empty()) continue;
        const std::u32string name = display::escape_controls(rule.name);
        std::u32string hint;
        if (rule.matches_nothing) {
            hint = overlays::matches_nothing_text();
        } else {
            std::vector<std::pair<std::u32string, std::size_t>> classes;
            for (const NearMiss& miss : rule.near_misses) {
                if (classes.size() == overlays::kNearMissesShown) break;
                classes.emplace_back(display::escape_controls(miss.name), miss.count);
            }
            hint =
                overlays::near_miss_text(classes, rule.near_misses.size() > overlays::kNearMissesShown, name);
        }
        const std::u32string arrow = U"→ " + std::u32string(model::mode_verb(rule.mode));
        const std::u32string count = U"  (" + display::decimal(rule.live_count) + U"): ";
        add(out, Warning::Kind::TypeRule,
            name + U" " +
                targets::mode_colored(arrow, rule.mode == Mode::Dendrified ? targets::ModeColor::Dendrify
                                                                           : targets::ModeColor::Track) +
                dim(count + hint));
    }
}

// Where each shown row's label is, by row, for the origins and shared rows named in other rows.
std::vector<int> label_index(const Plan& plan, const std::vector<ShownRow>& shown) {
    std::vector<int> at(plan.table->size(), -1);
    for (std::size_t k = 0; k < shown.size(); ++k) at[shown[k].row] = static_cast<int>(k);
    return at;
}

std::u32string shown_label(const Plan& plan, const std::vector<ShownRow>& shown, const std::vector<int>& at,
                           int row) {
    const int k = at[static_cast<std::size_t>(row)];
    return k >= 0 ? shown[static_cast<std::size_t>(k)].label : shown_id(plan, static_cast<std::size_t>(row));
}

// The line cut to `width` visible columns, its last one "…" where it was cut.
std::u32string clipped(const std::u32string& line, std::size_t width) {
    const auto columns = static_cast<long long>(width);
    if (static_cast<long long>(style::visible_width(line)) <= columns) return line;
    return layout::clip_to_width(line, columns - 1) + U"…";
}

std::u32string padded(std::u32string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), U' ');
    return text;
}

std::u32string styled_mode(const RowColumns& row) {
    if (row.mode.empty()) return {};
    if (row.attention) return attention(row.mode);
    if (row.color == targets::ModeColor::Other) return color_text(row.mode, style::kColorAccent);
    return targets::mode_colored(row.mode, row.color);
}

std::u32string styled_marker(const std::u32string& marker) {
    if (marker.empty()) return {};
    if (marker == U"!" || marker == U"⚠") return attention(marker);
    if (marker == U"↯") return color_text(marker, style::kColorAccent);
    return dim(marker);
}

// Keeps the end of `text` within `room` characters, "…" in front of what was cut.
std::u32string keep_end(const std::u32string& text, std::size_t room) {
    if (text.size() <= room) return text;
    if (room == 0) return {};
    return U"…" + text.substr(text.size() - (room - 1));
}

// What follows a row's label: its class, how many siblings it stands for and
// how many modules the depth limit hides.
std::u32string after_label(const RowColumns& row, const std::u32string& type_name) {
    std::u32string after = U"  [" + type_name + U"]";
    if (row.copies > 1) after += U" ×" + display::decimal(static_cast<long long>(row.copies));
    if (row.hidden_modules > 0)
        after += U"  (" + display::decimal(static_cast<long long>(row.hidden_modules)) + U" modules)";
    return after;
}

// The label and class of a row within `room` columns: the class gives way
// first (its start names it), then the label from its start (its end names
// the module).
std::pair<std::u32string, std::u32string> fitted_names(const RowColumns& row, std::size_t room) {
    std::u32string type_name = row.type_name;
    std::size_t excess = row.depth * 2 + row.label.size() + after_label(row, type_name).size();
    excess = excess > room ? excess - room : 0;
    if (excess > 0 && type_name.size() > kNarrowestType) {
        const std::size_t cut = std::min(excess, type_name.size() - kNarrowestType);
        type_name = type_name.substr(0, type_name.size() - cut - 1) + U"…";
        excess -= cut;
    }
    const std::size_t label_room =
        std::max(row.label.size() > excess ? row.label.size() - excess : 0, kNarrowestLabel);
    return {keep_end(row.label, label_room), type_name};
}

// The tree's lines at `width`: label on the left, then the mode, the source,
// the own count and the row that holds the same parameters, in columns as wide
// as the rows shown need.
std::vector<std::u32string> tree_lines(const std::vector<RowColumns>& rows, std::size_t width, bool color) {
    std::size_t mode_width = 0;
    std::size_t source_width = 0;
    std::size_t params_width = 0;
    std::size_t shared_width = 0;
    std::size_t widest_left = 0;
    for (const RowColumns& row : rows) {
        mode_width = std::max(mode_width, row.mode.size());
        source_width = std::max(source_width, row.source.size());
        params_width = std::max(params_width, row.params.size());
        if (!row.shared_with.empty())
            shared_width = std::max(shared_width, kSharedWith.size() + row.shared_with.size());
        widest_left =
            std::max(widest_left, row.depth * 2 + row.label.size() + after_label(row, row.type_name).size());
    }
    source_width = std::min(source_width, std::max(kNarrowestSource, width / kSourceShare));
    const auto room_left = [&] {
        const std::size_t right = mode_width + (source_width > 0 ? kGap + source_width : 0) +
                                  (params_width > 0 ? kGap + params_width : 0) +
                                  (shared_width > 0 ? kGap + shared_width : 0);
        return width > right + kGap + kMarkerWidth ? width - right - kGap - kMarkerWidth : 0;
    };
    // On a narrow width the shared-with and the source columns give way to the labels.
    if (room_left() < std::min(widest_left, kComfortableLeft)) shared_width = 0;
    if (room_left() < std::min(widest_left, kComfortableLeft)) source_width = 0;
    const std::size_t room = room_left();
    const std::size_t left_room = std::min(widest_left, std::max(kNarrowestLeft, room));

    std::vector<std::u32string> lines;
    lines.reserve(rows.size());
    for (const RowColumns& row : rows) {
        const std::u32string indent(row.depth * 2, U' ');
        const auto [label, type_name] = fitted_names(row, left_room);
        const std::u32string after = after_label(row, type_name);
        const std::size_t left_width = indent.size() + label.size() + after.size();

        std::u32string line = padded(row.marker, kMarkerWidth) + indent + label + after;
        std::u32string styled = styled_marker(row.marker) +
                                std::u32string(kMarkerWidth - row.marker.size(), U' ') + indent + label +
                                U"  " + dim(U"[" + type_name + U"]");
        const std::u32string counts = after.substr(type_name.size() + 4);
        if (!counts.empty()) styled += color_text(counts, style::kColorAccent);
        if (!row.mode.empty() || !row.source.empty() || !row.params.empty() || !row.shared_with.empty()) {
            const std::u32string gap(left_width < left_room ? left_room - left_width + kGap : kGap, U' ');
            line += gap + padded(row.mode, mode_width);
            styled += gap + styled_mode(row) + std::u32string(mode_width - row.mode.size(), U' ');
            if (source_width > 0) {
                const std::u32string source = padded(keep_end(row.source, source_width), source_width);
                line += U"  " + source;
                styled += U"  " + (row.source.empty() ? source : dim(source));
            }
            if (params_width > 0) {
                const std::u32string params =
                    std::u32string(params_width - row.params.size(), U' ') + row.params;
                line += U"  " + params;
                styled += U"  " + (row.params.empty() ? params : dim(params));
            }
            if (shared_width > 0 && !row.shared_with.empty()) {
                line += U"  " + kSharedWith + row.shared_with;
                styled += U"  " + dim(kSharedWith + row.shared_with);
            }
        }
        // Blanks of empty columns at the end go; what is still too wide is cut.
        std::u32string& chosen = color ? styled : line;
        while (!chosen.empty() && chosen.back() == U' ') chosen.pop_back();
        lines.push_back(clipped(chosen, width));
    }
    return lines;
}

}  // namespace

std::vector<Warning> warnings(const Plan& plan, std::size_t width) {
    std::vector<Warning> out;
    add(out, Warning::Kind::Budget, dim(model::budget_text(plan.budget)));
    if (!plan.needs_mode.empty()) {
        const std::size_t need = plan.needs_mode.size();
        const std::u32string head =
            U"⚠ " + display::decimal(static_cast<long long>(need)) +
            (need == 1 ? U" module still needs a mode: " : U" modules still need a mode: ");
        std::vector<std::u32string> ids;
        for (const int row : plan.needs_mode) {
            ids.push_back(shown_id(plan, static_cast<std::size_t>(row)));
            if (ids.size() * 2 > width) break;  // more than a line can show
        }
        std::u32string listed = listed_within(ids, width > head.size() ? width - head.size() : 0);
        if (ids.size() < need && listed.find(U" more") == std::u32string::npos) {
            listed += U", … +" + display::decimal(static_cast<long long>(need - ids.size())) + U" more";
        }
        add(out, Warning::Kind::NeedsMode, attention(head + listed));
    }
    add_conflicts(out, plan);
    if (plan.ok()) {
        add(out, Warning::Kind::Clear,
            color_text(plan.model_parameters.empty() ? U"✓ every parameter is dendrified or tracked"
                                                     : U"✓ every module with parameters has a mode",
                       style::kColorDendrify));
    }
    if (!plan.model_parameters.empty()) {
        std::vector<std::u32string> names(
            plan.model_parameters.begin(),
            plan.model_parameters.begin() +
                static_cast<long>(std::min(plan.model_parameters.size(), targets::kUnreachedNamesShown)));
        add(out, Warning::Kind::ModelParameters,
            targets::unreached_parameters_line(
                ascii(target::format_human_count(plan.model_parameter_elements)),
                plan.model_parameter_elements == 1, names,
                plan.model_parameters.size() > targets::kUnreachedNamesShown));
    }
    add_type_rules(out, plan);
    return out;
}

std::vector<RowColumns> row_columns(const Plan& plan, const ShowOptions& options) {
    const model::ModuleTable& table = *plan.table;
    const model::Resolution& resolution = plan.resolution;
    const std::vector<ShownRow> shown = shown_rows(plan, options);
    const std::vector<int> at = label_index(plan, shown);
    std::vector<RowColumns> out;
    out.reserve(shown.size());
    for (const ShownRow& item : shown) {
        const std::size_t row = item.row;
        RowColumns columns;
        columns.depth =
            static_cast<std::size_t>(std::max<std::int64_t>(0, table.indents.at(row, model::Field::Depth)));
        columns.label = item.label;
        columns.type_name = shown_type_name(plan, row);
        columns.copies = item.copies;
        columns.hidden_modules = item.hidden_modules;
        const Mode eff = resolution.eff[row];
        if (plan.needs_mode_flags[row]) {
            columns.marker = U"!";
        } else if (plan.in_conflict[row]) {
            columns.marker = U"⚠";
        } else if (plan.restructured[row] == Restructured::Root) {
            columns.marker = U"↯";
        } else if (plan.overrides[row]) {
            columns.marker = U"⚙";
        }
        if (plan.restructured[row] == Restructured::Root) {
            columns.mode = U"restructured";
        } else if (plan.needs_mode_flags[row]) {
            columns.mode = U"needs a mode";
            columns.attention = true;
        } else if (eff != Mode::None) {
            columns.mode = model::mode_verb(eff);
            columns.color =
                eff == Mode::Dendrified ? targets::ModeColor::Dendrify : targets::ModeColor::Track;
            switch (resolution.source[row]) {
                case model::Source::Id:
                    columns.source = U"id";
                    break;
                case model::Source::Type:
                    columns.source = U"type";
                    break;
                case model::Source::Inherited:
                    columns.source = U"via " + shown_label(plan, shown, at, resolution.origin[row]);
                    break;
                case model::Source::None:
                    break;
            }
        }
        if (table.owns(row)) columns.params = count_text(table, row);
        if (plan.shared_with[row] >= 0)
            columns.shared_with = shown_label(plan, shown, at, plan.shared_with[row]);
        out.push_back(std::move(columns));
    }
    return out;
}

std::u32string plan_text(const Plan& plan, const TextOptions& options) {
    std::vector<std::u32string> lines;
    for (const Warning& warning : warnings(plan, options.width)) {
        lines.push_back(clipped(options.color ? warning.styled : warning.text, options.width));
    }
    const std::vector<RowColumns> rows = row_columns(plan, options.show);
    if (!rows.empty()) lines.emplace_back();
    for (std::u32string& line : tree_lines(rows, options.width, options.color))
        lines.push_back(std::move(line));
    std::u32string text;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        if (k > 0) text += U'\n';
        text += lines[k];
    }
    return options.color ? style::for_terminal(std::move(text)) : text;
}

std::vector<std::u32string> problem_lines(const Plan& plan) {
    std::vector<std::u32string> out;
    for (const int row : plan.needs_mode) {
        const auto r = static_cast<std::size_t>(row);
        out.push_back(U"needs a mode: " + shown_id(plan, r) + U"  [" + shown_type_name(plan, r) + U"]");
    }
    for (const Conflict& conflict : plan.conflicts)
        out.push_back(U"shared tensor in conflict: " + holders_text(plan, conflict));
    return out;
}

}  // namespace nvx::plan
