// Every frame of a session fits its terminal. Frames are drawn as the module's
// functions draw them; only a frame that would be taller than the terminal (or
// leave a screen fewer than three body rows) is refitted: overlays become a
// window, screens let header and footer lines give way.
#include <algorithm>

#include "core/keys/key_table.hpp"
#include "core/layout/compose.hpp"
#include "core/screens/run_frame.hpp"
#include "core/screens/type_rules_text.hpp"
#include "core/text/display_text.hpp"
#include "core/text/styling.hpp"
#include "key_tests.hpp"
#include "session.hpp"

namespace nvx::configure {
namespace {

using layout::kWantedBodyRows;
// How far a page key scrolls a page, and a first row past any page's end.
constexpr long long kPageStep = 10;
constexpr long long kPastTheEnd = 1LL << 40;

// When each line of the Targets header gives way: the blank lines first, then
// the mode legend, the count of modules needing a mode, and the rule under it.
const std::vector<int> kTargetsHeaderRanks = {0, 1, 2, 1, 3, 4};
// The Run settings lines as its frame ranks them, and the status line.
const std::vector<int> kRunHeaderRanks = {screens::run_ranks::kTabBar, screens::run_ranks::kBlank,
                                          screens::run_ranks::kTitle, screens::run_ranks::kHeaderRule};
const std::vector<int> kRunFooterRanks = {screens::run_ranks::kFooterRule, screens::run_ranks::kHint,
                                          screens::run_ranks::kStatus};

// When the Targets footer lines give way: the blank line, the rule, the line
// of keys beyond the screen's own hint; the budget line and the notes under it, the
// hint (the last line) and the status message only when the body would get no row.
constexpr int kBudgetRank = layout::kGivesWayLast;
constexpr int kHintRank = layout::kGivesWayLast + 1;
constexpr int kStatusRank = layout::kGivesWayLast + 2;
const std::vector<int> kTargetsFooterRanks = {5, kBudgetRank, 1};
constexpr int kNewKeysRank = 6;
// The type-rules block the user asked for, once cut to one rule, goes last.
constexpr int kTypeRulesRank = layout::kGivesWayLast + 3;

bool all_text(const py::object& lines) {
    if (!PyList_CheckExact(lines.ptr())) return false;
    for (const py::handle line : lines) {
        if (!PyUnicode_CheckExact(line.ptr())) return false;
    }
    return true;
}

std::vector<std::u32string> u32_lines(const py::object& lines) {
    std::vector<std::u32string> out;
    for (const py::handle line : lines) out.push_back(to_u32(line));
    return out;
}

bool is_blank(const std::u32string& line) {
    return style::visible_width(line) == 0;
}

// Lines with their ranks; lines past the end of `ranks` stay, blank ones give
// way first. The screens' separator is a rule.
std::vector<layout::ScreenLine> ranked(const std::vector<std::u32string>& lines,
                                       const std::vector<int>& ranks) {
    static const std::u32string separator = style::horizontal_rule();
    std::vector<layout::ScreenLine> out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int rank = i < ranks.size() ? ranks[i] : (is_blank(lines[i]) ? 1 : 0);
        out.push_back(
            {lines[i], rank, lines[i] == separator ? layout::LineKind::Rule : layout::LineKind::Text});
    }
    return out;
}

// The body lines a focus names; none for None.
std::optional<layout::Focus> focus_pair(const py::object& focus) {
    if (focus.is_none()) return std::nullopt;
    py::tuple pair(focus);
    return layout::Focus{py::cast<long long>(pair[0]), py::cast<long long>(pair[1])};
}

long long rows_of(const std::vector<layout::ScreenLine>& lines, long long columns) {
    long long rows = 0;
    for (const auto& line : lines) rows += layout::fitted_line_rows(line, columns);
    return rows;
}

}  // namespace

Session::TerminalSize Session::terminal_now() const {
    py::object size = call_global("terminal_size");
    return {py::cast<long long>(size.attr("columns")), py::cast<long long>(size.attr("lines"))};
}

Session::ScreenBody Session::ScreenBody::of_lines(const py::object& lines) {
    ScreenBody body;
    body.list = lines;
    body.count = static_cast<long long>(py::len(lines));
    auto cache =
        std::make_shared<std::vector<std::optional<std::u32string>>>(static_cast<std::size_t>(body.count));
    body.line = [lines, cache](long long index) -> const std::u32string& {
        auto& line = (*cache)[static_cast<std::size_t>(index)];
        if (!line) line = to_u32(lines[py::int_(index)]);
        return *line;
    };
    return body;
}

py::str Session::compose_targets_screen(const py::object& header, ScreenBody& body, const py::object& footer,
                                        const py::object& focus, bool lazy) {
    std::vector<int> footer_ranks;
    py::object shown_footer = targets_footer(footer, footer_ranks);
    py::object type_rules = overlay_ == "typerules" ? type_rules_box() : py::object(py::none());
    return compose_fitted(header, type_rules, body, shown_footer, kTargetsHeaderRanks, footer_ranks, focus,
                          target_window_start_, lazy);
}

py::str Session::compose_run_screen(const py::tuple& parts) {
    ScreenBody body = ScreenBody::of_lines(parts[1]);
    return compose_fitted(parts[0], py::none(), body, with_status(parts[2]), kRunHeaderRanks, kRunFooterRanks,
                          parts[3], run_window_start_, false);
}

py::str Session::fit_overlay(const py::object& lines, long long& window_start, const char32_t* pointer) {
    py::object text = call_global("render_static_overlay", lines);
    if (!PyUnicode_Check(text.ptr())) return py::str(text);
    const TerminalSize size = terminal_now();
    const std::vector<std::u32string> shown = layout::split_lines(to_u32(text));
    std::optional<layout::Focus> focus;
    if (pointer != nullptr) {
        const std::u32string prefix = pointer;
        for (std::size_t i = 0; i < shown.size() && !focus; ++i) {
            if (style::strip_ansi(shown[i]).compare(0, prefix.size(), prefix) == 0) {
                focus = layout::Focus{static_cast<long long>(i), static_cast<long long>(i) + 1};
            }
        }
    }
    const layout::FittedFrame fitted = layout::fit_window({shown, focus}, window_start, size.columns,
                                                          layout::frame_rows_available(size.lines));
    window_start = fitted.window_start;
    return from_u32(fitted.text);
}

py::str Session::fit_page(const layout::PageFrame& page, long long& window_start) {
    const TerminalSize size = terminal_now();
    const layout::FittedFrame fitted = layout::fit_window(page, window_start, size.columns,
                                                          layout::frame_rows_available(size.lines));
    window_start = fitted.window_start;
    return from_u32(fitted.text);
}

py::str Session::compose_fitted(const py::object& header, const py::object& type_rules, ScreenBody& body,
                                const py::object& footer, const std::vector<int>& header_ranks,
                                const std::vector<int>& footer_ranks, const py::object& focus,
                                py::object& window_start, bool lazy) {
    const TerminalSize size = terminal_now();
    const py::object full_header = type_rules.is_none() ? header : with_type_rules(header, type_rules);
    const bool text_lines = all_text(full_header) && all_text(footer);
    py::object composed;
    if (lazy && text_lines) {
        layout::ScreenFrame frame{ranked(u32_lines(full_header), header_ranks), body.count, body.line,
                                  ranked(u32_lines(footer), footer_ranks), focus_pair(focus)};
        const layout::TerminalSize terminal{size.columns, size.lines};
        const long long start = py::cast<long long>(window_start);
        const layout::FittedFrame shown = type_rules.is_none()
                                              ? layout::show_screen(frame, start, terminal)
                                              : layout::compose_screen(frame, start, terminal);
        window_start = py::int_(shown.window_start);
        if (type_rules.is_none()) return from_u32(shown.text);
        composed = from_u32(shown.text);
    } else {
        if (!body.list) {
            py::list lines;
            for (long long i = 0; i < body.count; ++i) lines.append(from_u32(body.line(i)));
            body.list = lines;
        }
        py::tuple pair =
            call_global("compose_scrolling_screen", full_header, body.list, footer, window_start, focus);
        window_start = pair[1];
        composed = pair[0];
    }
    if (!text_lines || !PyUnicode_Check(composed.ptr()) || !PyLong_Check(window_start.ptr())) {
        return py::str(composed);
    }

    const long long rows = layout::frame_rows_available(size.lines);
    const std::vector<std::u32string> head_lines = u32_lines(header);
    const std::vector<std::u32string> foot_lines = u32_lines(footer);
    long long reserved = 0;
    for (const auto* lines : {&head_lines, &foot_lines}) {
        for (const auto& line : *lines)
            reserved += static_cast<long long>(layout::terminal_rows(line, size.columns).size());
    }
    const long long wanted = std::min(kWantedBodyRows, body.count);
    if (type_rules.is_none() && layout::frame_rows(to_u32(composed), size.columns) <= rows &&
        layout::body_budget(size.lines, reserved) >= wanted) {
        return py::str(composed);
    }

    std::vector<layout::ScreenLine> head = ranked(head_lines, header_ranks);
    const std::vector<layout::ScreenLine> foot = ranked(foot_lines, footer_ranks);
    if (!type_rules.is_none()) {
        // The box is cut to the width rather than wrapped.
        std::vector<std::u32string> block;
        for (const auto& line : u32_lines(type_rules))
            block.push_back(layout::clip_to_width(line, size.columns));
        const layout::ScreenLine blank{U"", 1};
        const auto block_size = static_cast<long long>(block.size());
        // Rows of the rules, and of the box's frame, its close hint and the blank lines around it.
        long long rule_rows = 0;
        long long fixed = 2;
        for (long long i = 0; i < block_size; ++i) {
            const long long line_rows =
                layout::fitted_line_rows({block[static_cast<std::size_t>(i)]}, size.columns);
            (i == 0 || i >= block_size - 2 ? fixed : rule_rows) += line_rows;
        }
        const long long room =
            rows - rows_of(head, size.columns) - rows_of(foot, size.columns) - fixed - wanted - 2;
        head.push_back(blank);
        if (room >= rule_rows || block_size < 4) {
            type_rules_first_ = 0;
            for (const auto& line : block) head.push_back({line, kTypeRulesRank});
            // A block that fits with the screen's own composition keeps it.
            if (layout::frame_rows(to_u32(composed), size.columns) <= rows &&
                layout::body_budget(size.lines, reserved) >= wanted) {
                return py::str(composed);
            }
        } else {
            for (auto& line : cut_type_rules(block, room - 1, size.columns)) head.push_back(std::move(line));
        }
        head.push_back(blank);
    }
    const layout::FittedFrame fitted =
        layout::fit_screen(head, body.count, body.line, foot, py::cast<long long>(window_start),
                           focus_pair(focus), size.columns, rows, kWantedBodyRows);
    window_start = py::int_(fitted.window_start);
    return from_u32(fitted.text);
}

std::vector<layout::ScreenLine> Session::cut_type_rules(const std::vector<std::u32string>& lines,
                                                        long long room, long long columns) {
    std::vector<layout::ScreenLine> out;
    for (std::u32string& line : overlays::cut_type_rules_box(lines, type_rules_first_, room, columns)) {
        out.push_back({std::move(line), kTypeRulesRank});
    }
    return out;
}

py::object Session::targets_footer(const py::object& footer, std::vector<int>& ranks) const {
    py::list lines = steal(PySequence_List(footer.ptr()));
    ranks.clear();
    const auto count = static_cast<std::size_t>(py::len(lines));
    for (std::size_t i = 0; i < count; ++i) {
        if (i + 1 == count) {
            ranks.push_back(kHintRank);
        } else if (i < kTargetsFooterRanks.size()) {
            ranks.push_back(kTargetsFooterRanks[i]);
        } else {
            ranks.push_back(is_blank(to_u32(lines[i])) ? 1 : kBudgetRank);
        }
    }
    if (count > 1) {
        // The keys beyond the screen's own hint, under the rule that ends the
        // tree: the budget line, the notes under it and the hint stay together.
        lines.insert(1, from_u32(style::dim(nvx::keys::further_keys_line())));
        ranks.insert(ranks.begin() + 1, kNewKeysRank);
    }
    py::object shown = with_status(lines);
    if (truthy(status_message_)) ranks.push_back(kStatusRank);
    if (search_.open) {
        py::list prompt;
        prompt.append(from_u32(search_prompt_line()));
        shown = shown + prompt;
        ranks.push_back(0);
    }
    return shown;
}

bool Session::scroll_page(const py::object& key, long long& first_row) const {
    using nvx::keys::Action;
    switch (nvx::keys::action_in(nvx::keys::Place::TallPage, keys::text_of(key))) {
        case Action::ScrollUp:
            first_row -= 1;
            break;
        case Action::ScrollDown:
            first_row += 1;
            break;
        case Action::ScrollPageUp:
            first_row -= kPageStep;
            break;
        case Action::ScrollPageDown:
            first_row += kPageStep;
            break;
        case Action::ScrollTop:
            first_row = 0;
            break;
        case Action::ScrollBottom:
            first_row = kPastTheEnd;
            break;
        default:
            return false;
    }
    first_row = std::max(0LL, first_row);
    return true;
}

}  // namespace nvx::configure
