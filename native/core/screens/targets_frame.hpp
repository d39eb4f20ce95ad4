// The Targets screen as a frame: the header (tab bar, legend, the count of
// modules that need a mode, rule), the module tree drawn row by row on demand,
// and the footer (rule, budget line, the notes on shared tensors and on the
// model's own parameters, key hints). Each header and footer line carries its
// kind and the rank at which it gives way on a short terminal, set here where
// the line is made.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/layout/frame.hpp"
#include "targets_text.hpp"

namespace nvx::targets {

// One row of the tree, in the pieces its layout shows (texts as drawn:
// control characters already escaped).
struct RowView {
    enum class Layout { Normal, Stale, ReplacedRoot };
    Layout layout = Layout::Normal;
    std::u32string indent;
    std::u32string id;
    std::u32string type_name;
    // A normal row: its marker, its mode text, its count.
    MarkerKind marker = MarkerKind::Blank;
    ModeColor color = ModeColor::Other;
    Tail::Kind tail = Tail::Kind::Empty;
    std::u32string verb;
    bool inherited = false;
    std::u32string origin;
    bool overridden = false;
    std::u32string overridden_verb;
    bool override_mark = false;  // the module holds per-module setting overrides
    bool has_params = false;
    std::u32string params;
    std::u32string shared_with;  // the earlier row holding all its parameters
    // A restructured module: the rows below it, and whether they are shown.
    std::size_t children = 0;
    bool open = false;
};

// The lines of one row (two for a restructured module).
std::vector<std::u32string> row_lines(const RowView& row, bool selected);

// Where each row starts in the body: a restructured module takes two lines,
// every other row one. Built from the positions of the two-line rows.
class LineIndex {
public:
    LineIndex(std::size_t rows, std::vector<std::size_t> two_line_positions);
    std::size_t rows() const { return rows_; }
    long long lines() const { return first_line(rows_); }
    long long first_line(std::size_t position) const;
    long long lines_of(std::size_t position) const { return first_line(position + 1) - first_line(position); }
    std::size_t position_at(long long line) const;

private:
    std::size_t rows_;
    std::vector<std::size_t> two_lines_;  // sorted
};

// The rows of the tree, drawn when the window reaches them.
class RowSource {
public:
    virtual ~RowSource() = default;
    virtual const LineIndex& index() = 0;
    virtual RowView row(std::size_t position) = 0;
};

struct TargetsHead {
    std::size_t need = 0;        // modules that still need a mode
    std::size_t type_rules = 0;  // type rules set
    bool all_reached = true;     // false while the model holds parameters no rule reaches
};

// One pair of rows that hold the same tensors with different modes.
struct ConflictNote {
    std::u32string row;
    std::u32string owner;
    std::size_t tensors = 0;  // between these two rows
    std::u32string row_verb;
    std::u32string owner_verb;
};
struct UnreachedNote {
    std::u32string count;  // compact count of their elements
    bool one = false;
    std::vector<std::u32string> names;  // the first ones
    bool more = false;
};
struct TargetsFoot {
    std::u32string budget;  // the budget line, plain
    std::optional<ConflictNote> first_conflict;
    std::size_t conflict_tensors = 0;
    std::optional<UnreachedNote> unreached;
};
// How many names of the model's own parameters the footer shows.
inline constexpr std::size_t kUnreachedNamesShown = 3;

// "<row> shares a weight with <owner>: <row verb> vs <owner verb>".
std::u32string conflict_text(const ConflictNote& note);

// The header and footer lines, each with its kind and give-way rank.
std::vector<layout::FrameLine> targets_header(const TargetsHead& head);
std::vector<layout::FrameLine> targets_footer(const TargetsFoot& foot);

// The whole screen; `rows` is drawn from while the frame lives. `selected`:
// the position of the selected row (none: the focus is the first line).
layout::ScreenFrame targets_frame(const TargetsHead& head, std::shared_ptr<RowSource> rows,
                                  std::optional<std::size_t> selected, const TargetsFoot& foot);

}  // namespace nvx::targets
