// Text of the Targets screen: the tab bar, the header and footer lines, the
// row marker and the three row layouts of the module tree. Plain C++ over code
// points; the binding layer reads the entries and records and hands the pieces
// in as views, so a frame of many rows is built without interpreter calls.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace nvx::targets {

// The colour a mode is drawn in: get_color_hex_for_mode's three outcomes.
enum class ModeColor { Dendrify, Track, Other };

// Tab bar shared by both screens and the overrides overlay.
std::u32string tab_bar(bool targets_active);

// Two full blocks in the colour of a mode.
std::u32string block(ModeColor color);
// `text` in the colour of a mode.
std::u32string mode_colored(std::u32string_view text, ModeColor color);

// Row marker: `display` is styled, `plain` holds the same five visible columns.
struct Marker {
    std::u32string display;
    std::u32string plain;
};
enum class MarkerKind { Blank, Attention, Inherited, ById, ByType };
Marker marker(MarkerKind kind, ModeColor color);

// Header and footer lines.
std::u32string legend_line();
// Without `all_reached` (the model itself holds parameters no rule reaches) the
// check-mark status is left out: it would claim every parameter has a mode.
std::u32string status_line(std::size_t need, std::size_t type_rule_count, bool all_reached = true);
std::u32string key_hints_line();

// The parts of one tree row that come from the entry; views into the caller's
// buffers, valid for the duration of one call.
struct RowText {
    bool selected = false;
    std::u32string_view indent;
    std::u32string_view id;
    std::u32string_view type_name;
};

// Replaced root: two lines, appended to `out`.
void append_replaced_root_lines(std::vector<std::u32string>& out, const RowText& row,
                                std::u32string_view child_count, bool open);

// A module inside a replaced one: its id is stale, so it is drawn dimmed only.
std::u32string stale_row(const RowText& row, const Marker& marker);

// Mode text after the column gap of a normal row.
struct Tail {
    enum class Kind { Empty, NeedsMode, Mode };
    Kind kind = Kind::Empty;
    ModeColor color = ModeColor::Other;
    std::u32string_view verb;
    bool inherited = false;
    std::u32string_view origin;
    bool overridden = false;
    std::u32string_view overridden_verb;
    // The module holds per-module setting overrides: a dimmed mark follows the mode.
    bool override_mark = false;
};

// The mark after the mode of a row whose module holds setting overrides, and
// after a type rule whose class holds them.
std::u32string override_mark();

// A normal row; `params` is the formatted own parameter count, or empty when the
// module owns none (`has_params` false). `shared_with` is the id of the earlier
// row that holds all of this module's parameters, empty when there is none.
std::u32string normal_row(const RowText& row, const Marker& marker, const Tail& tail, bool has_params,
                          std::u32string_view params, std::u32string_view shared_with = {});

// One pair of rows holding the same tensors with different modes:
// "<row> shares a weight with <owner>: <row verb> vs <owner verb>".
std::u32string shared_weights_text(std::u32string_view row, std::u32string_view owner, std::size_t tensors,
                                   std::u32string_view row_verb, std::u32string_view owner_verb);
// Footer warning for the first such pair, with the number of tensors in conflict.
std::u32string shared_conflict_line(const std::u32string& first_pair, std::size_t tensors);
// Footer line for parameters held by the model itself: `count` is the formatted
// element count, `names` the first names to show, `more` whether others follow.
std::u32string unreached_parameters_line(std::u32string_view count, bool one,
                                         const std::vector<std::u32string>& names, bool more);

}  // namespace nvx::targets
