#include "targets_frame.hpp"

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "core/text/display_text.hpp"
#include "core/text/styling.hpp"

namespace nvx::targets {
namespace {

using layout::FrameLine;
using layout::kGivesWayLast;
using layout::LineKind;

// When each header line gives way: the blank lines first, then the mode
// legend, the count of modules needing a mode, and the rule under it.
constexpr int kBlankRank = 1;
constexpr int kLegendRank = 2;
constexpr int kStatusRank = 3;
constexpr int kHeaderRuleRank = 4;
// The footer's rule goes after the header's; the budget line, the notes under
// it and the key hints only when the body would get no row.
constexpr int kFooterRuleRank = 5;
constexpr int kBudgetRank = kGivesWayLast;
constexpr int kHintRank = kGivesWayLast + 1;

// The body of one frame: rows drawn at first use, kept for the frame's life.
struct Body {
    std::shared_ptr<RowSource> rows;
    std::optional<std::size_t> selected;
    std::unordered_map<std::size_t, std::vector<std::u32string>> drawn;

    const std::u32string& line(long long index) {
        const LineIndex& lines = rows->index();
        const std::size_t position = lines.position_at(index);
        auto found = drawn.find(position);
        if (found == drawn.end()) {
            // A window's worth of rows is kept; a body read through drops the rest.
            constexpr std::size_t kRowsKept = 512;
            if (drawn.size() >= kRowsKept) drawn.clear();
            found = drawn.emplace(position, row_lines(rows->row(position), selected == position)).first;
        }
        return found->second[static_cast<std::size_t>(index - lines.first_line(position))];
    }
};

}  // namespace

std::vector<std::u32string> row_lines(const RowView& row, bool selected) {
    const RowText text{selected, row.indent, row.id, row.type_name};
    std::vector<std::u32string> lines;
    switch (row.layout) {
        case RowView::Layout::ReplacedRoot: {
            const std::u32string count = display::decimal(static_cast<long long>(row.children));
            append_replaced_root_lines(lines, text, count, row.open);
            break;
        }
        case RowView::Layout::Stale:
            lines.push_back(stale_row(text, marker(MarkerKind::Blank, {})));
            break;
        case RowView::Layout::Normal: {
            Tail tail;
            tail.kind = row.tail;
            tail.color = row.color;
            tail.verb = row.verb;
            tail.inherited = row.inherited;
            tail.origin = row.origin;
            tail.overridden = row.overridden;
            tail.overridden_verb = row.overridden_verb;
            tail.override_mark = row.override_mark;
            lines.push_back(normal_row(text, marker(row.marker, row.color), tail, row.has_params, row.params,
                                       row.shared_with));
            break;
        }
    }
    return lines;
}

LineIndex::LineIndex(std::size_t rows, std::vector<std::size_t> two_line_positions)
    : rows_(rows), two_lines_(std::move(two_line_positions)) {
    std::sort(two_lines_.begin(), two_lines_.end());
}

long long LineIndex::first_line(std::size_t position) const {
    const auto before = std::lower_bound(two_lines_.begin(), two_lines_.end(), position) - two_lines_.begin();
    return static_cast<long long>(position) + before;
}

std::size_t LineIndex::position_at(long long line) const {
    // The second line of two-line row t_i is line t_i + i + 1: the lines up to
    // `line` hold as many second lines as such rows with t_i + i + 1 <= line.
    std::size_t low = 0;
    std::size_t high = two_lines_.size();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (static_cast<long long>(two_lines_[middle] + middle + 1) <= line) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return static_cast<std::size_t>(line) - low;
}

std::u32string conflict_text(const ConflictNote& note) {
    return shared_weights_text(note.row, note.owner, note.tensors, note.row_verb, note.owner_verb);
}

std::vector<FrameLine> targets_header(const TargetsHead& head) {
    return {
        {tab_bar(true), 0, LineKind::Text},
        {U"", kBlankRank, LineKind::Text},
        {legend_line(), kLegendRank, LineKind::Text},
        {U"", kBlankRank, LineKind::Text},
        {status_line(head.need, head.type_rules, head.all_reached), kStatusRank, LineKind::Text},
        {style::horizontal_rule(), kHeaderRuleRank, LineKind::Rule},
    };
}

std::vector<FrameLine> targets_footer(const TargetsFoot& foot) {
    std::vector<FrameLine> lines{
        {style::horizontal_rule(), kFooterRuleRank, LineKind::Rule},
        {style::dim(foot.budget), kBudgetRank, LineKind::Text},
        {U"", kBlankRank, LineKind::Text},
    };
    if (foot.first_conflict) {
        lines.push_back(
            {shared_conflict_line(conflict_text(*foot.first_conflict), foot.conflict_tensors), kBudgetRank});
    }
    if (foot.unreached) {
        const UnreachedNote& note = *foot.unreached;
        lines.push_back(
            {unreached_parameters_line(note.count, note.one, note.names, note.more), kBudgetRank});
    }
    lines.push_back({key_hints_line(), kHintRank, LineKind::Text});
    return lines;
}

layout::ScreenFrame targets_frame(const TargetsHead& head, std::shared_ptr<RowSource> rows,
                                  std::optional<std::size_t> selected, const TargetsFoot& foot) {
    layout::ScreenFrame frame;
    frame.header = targets_header(head);
    frame.footer = targets_footer(foot);
    const LineIndex& lines = rows->index();
    frame.body_count = lines.lines();
    frame.focus = layout::Focus{0, 1};
    if (selected && *selected < lines.rows()) {
        const long long start = lines.first_line(*selected);
        frame.focus = layout::Focus{start, start + lines.lines_of(*selected)};
    } else {
        selected.reset();
    }
    auto body = std::make_shared<Body>(Body{std::move(rows), selected, {}});
    frame.body_line = [body](long long index) -> const std::u32string& { return body->line(index); };
    return frame;
}

}  // namespace nvx::targets
