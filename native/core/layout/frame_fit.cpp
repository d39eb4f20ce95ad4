#include "frame_fit.hpp"

#include <algorithm>

#include "core/text/styling.hpp"

namespace nvx::layout {
namespace {

const std::u32string& more_above() {
    static const std::u32string mark = style::dim(U"  ^^^^ more above ^^^^");
    return mark;
}

const std::u32string& more_below() {
    static const std::u32string mark = style::dim(U"  vvvv more below vvvv");
    return mark;
}

// The first `columns` visible characters of `line`, its style codes kept.
std::u32string clip_visible(const std::u32string& line, long long columns) {
    std::u32string clipped;
    long long shown = 0;
    bool styled = false;
    for (std::size_t i = 0; i < line.size();) {
        if (const std::size_t skip = style::sgr_length(line, i)) {
            clipped.append(line, i, skip);
            styled = true;
            i += skip;
        } else if (shown < columns) {
            clipped += line[i++];
            ++shown;
        } else {
            ++i;
        }
    }
    if (styled) clipped += style::kReset;
    return clipped;
}

std::vector<std::u32string> fitted_rows(const FrameLine& line, long long columns) {
    if (line.kind == LineKind::Rule && static_cast<long long>(style::visible_width(line.text)) > columns) {
        return {clip_visible(line.text, columns)};
    }
    return terminal_rows(line.text, columns);
}

class Rows {
public:
    explicit Rows(long long limit) : limit_(limit) {}
    void add(const std::u32string& row) { rows_.push_back(row); }
    void add_all(const std::vector<std::u32string>& rows) {
        for (const auto& row : rows) add(row);
    }
    FittedFrame frame(long long window_start) {
        if (static_cast<long long>(rows_.size()) > limit_) rows_.resize(static_cast<std::size_t>(limit_));
        std::u32string text;
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            if (i > 0) text += U'\n';
            text += rows_[i];
        }
        return {std::move(text), window_start};
    }

private:
    long long limit_;
    std::vector<std::u32string> rows_;
};

// Adds the body window's rows; the first line is cut to the budget when it
// alone is taller.
void add_window(Rows& out, const Window& window, long long count, long long budget, bool marks,
                const std::function<std::vector<std::u32string>(long long)>& rows_of_line) {
    if (marks && window.start > 0) out.add(more_above());
    for (long long i = window.start; i < window.end; ++i) {
        std::vector<std::u32string> rows = rows_of_line(i);
        if (i == window.start && static_cast<long long>(rows.size()) > budget) {
            rows.resize(static_cast<std::size_t>(budget));
        }
        out.add_all(rows);
    }
    if (marks && window.end < count) out.add(more_below());
}

}  // namespace

bool too_small(long long columns, long long lines) {
    return columns < kMinColumns || lines < kMinLines;
}

std::u32string too_small_frame(long long columns, long long lines) {
    const auto size = [](long long c, long long l) {
        const std::string text = std::to_string(c) + "x" + std::to_string(l);
        return std::u32string(text.begin(), text.end());
    };
    const std::u32string text =
        U"terminal too small: " + size(columns, lines) + U", needs at least " + size(kMinColumns, kMinLines);
    Rows out(std::max(1LL, frame_rows_available(lines)));
    out.add_all(terminal_rows(text, columns));
    return out.frame(0).text;
}

long long frame_rows_available(long long lines) {
    return std::max(1LL, lines - 1);
}

std::vector<std::u32string> terminal_rows(const std::u32string& line, long long columns) {
    if (auto rows = wrap_on_words(line, columns)) return std::move(*rows);
    // Wrapping leaves a wide line of spaces whole; shown cut, it looks the same.
    if (columns >= 1 && static_cast<long long>(style::visible_width(line)) > columns) {
        return {clip_visible(line, columns)};
    }
    return {line};
}

long long frame_rows(const std::u32string& text, long long columns) {
    long long total = 0;
    for (const auto& line : split_lines(text))
        total += static_cast<long long>(terminal_rows(line, columns).size());
    return total;
}

std::vector<std::u32string> split_lines(const std::u32string& text) {
    std::vector<std::u32string> lines;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(U'\n', start);
        if (end == std::u32string::npos) {
            lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

std::u32string wrapped_text(const std::u32string& text, long long columns) {
    std::u32string shown;
    bool first = true;
    for (const std::u32string& line : split_lines(text)) {
        const std::optional<std::vector<std::u32string>> rows = wrap_on_words(line, columns);
        for (const std::u32string& row : rows ? *rows : std::vector<std::u32string>{line}) {
            if (!first) shown += U'\n';
            first = false;
            shown += row;
        }
    }
    return shown;
}

std::u32string clip_to_width(const std::u32string& line, long long columns) {
    if (static_cast<long long>(style::visible_width(line)) <= columns) return line;
    return clip_visible(line, columns);
}

long long fitted_line_rows(const FrameLine& line, long long columns) {
    return static_cast<long long>(fitted_rows(line, columns).size());
}

FittedFrame fit_window(const PageFrame& page, long long window_start, long long columns, long long rows) {
    const std::vector<std::u32string>& lines = page.lines;
    const auto count = static_cast<long long>(lines.size());
    std::vector<long long> heights(lines.size());
    long long total = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        heights[i] = static_cast<long long>(terminal_rows(lines[i], columns).size());
        total += heights[i];
    }
    if (total <= rows) {
        Rows out(rows);
        for (const auto& line : lines) out.add(line);
        return out.frame(0);
    }
    const long long budget = std::max(1LL, rows - 2);
    const Window window = place_window(count, budget, window_start, page.focus, [&](long long index) {
        return heights[static_cast<std::size_t>(index < 0 ? index + count : index)];
    });
    Rows out(rows);
    add_window(out, window, count, budget, true,
               [&](long long i) { return terminal_rows(lines[static_cast<std::size_t>(i)], columns); });
    return out.frame(window.start);
}

FittedFrame fit_screen(const std::vector<ScreenLine>& header, long long body_count, const BodyText& body_line,
                       const std::vector<ScreenLine>& footer, long long window_start,
                       const std::optional<Focus>& focus, long long columns, long long rows,
                       long long wanted_body_rows) {
    std::vector<long long> body_heights(static_cast<std::size_t>(body_count), 0);
    const auto body_rows = [&](long long index) {
        if (index < 0) index += body_count;
        long long& height = body_heights.at(static_cast<std::size_t>(index));
        if (height == 0) height = static_cast<long long>(terminal_rows(body_line(index), columns).size());
        return height;
    };
    // The body's rows, counted only as far as the terminal could show.
    long long body_total = 0;
    for (long long i = 0; i < body_count && body_total <= rows; ++i) body_total += body_rows(i);
    const long long body_wanted = std::min(wanted_body_rows, body_total);

    std::vector<const ScreenLine*> lines;
    for (const auto& line : header) lines.push_back(&line);
    for (const auto& line : footer) lines.push_back(&line);
    std::vector<long long> heights;
    int last_rank = 0;
    for (const ScreenLine* line : lines) {
        heights.push_back(fitted_line_rows(*line, columns));
        last_rank = std::max(last_rank, line->gives_way);
    }
    std::vector<bool> kept(lines.size(), true);
    long long budget = 1;
    bool marks_shown = true;
    for (int rank = 1;; ++rank) {
        long long reserved = 0;
        for (std::size_t i = 0; i < lines.size(); ++i) reserved += kept[i] ? heights[i] : 0;
        const long long space = rows - reserved;
        // The scroll marks go when they would leave the body no row.
        marks_shown = space >= 3;
        const long long marks = marks_shown && body_total > space ? 2 : 0;
        budget = std::max(1LL, space - marks);
        const long long enough = rank < kGivesWayLast ? body_wanted : std::min(1LL, body_wanted);
        if (space - marks >= enough || rank > last_rank) break;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i]->gives_way == rank) kept[i] = false;
        }
    }

    const Window window = place_window(body_count, budget, window_start, focus, body_rows);
    Rows out(rows);
    const std::size_t header_count = header.size();
    for (std::size_t i = 0; i < header_count; ++i) {
        if (kept[i]) out.add_all(fitted_rows(*lines[i], columns));
    }
    add_window(out, window, body_count, budget, marks_shown,
               [&](long long i) { return terminal_rows(body_line(i), columns); });
    for (std::size_t i = header_count; i < lines.size(); ++i) {
        if (kept[i]) out.add_all(fitted_rows(*lines[i], columns));
    }
    return out.frame(window.start);
}

}  // namespace nvx::layout
