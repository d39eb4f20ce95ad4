#include "screen_layout.hpp"

#include <algorithm>

#include "core/text/styling.hpp"

namespace nvx::layout {
namespace {

// White space as the interpreter's str.rstrip() sees it.
bool is_whitespace(char32_t c) {
    switch (c) {
        case U' ':
        case U'\t':
        case U'\n':
        case U'\v':
        case U'\f':
        case U'\r':
        case U'\x1c':
        case U'\x1d':
        case U'\x1e':
        case U'\x1f':
        case U'\x85':
        case U'\xa0':
        case U'\u1680':
        case U'\u2028':
        case U'\u2029':
        case U'\u202f':
        case U'\u205f':
        case U'\u3000':
            return true;
        default:
            return c >= U'\u2000' && c <= U'\u200a';
    }
}

std::u32string rstrip(std::u32string text) {
    std::size_t end = text.size();
    while (end > 0 && is_whitespace(text[end - 1])) --end;
    text.resize(end);
    return text;
}

}  // namespace

long long rows_for_width(std::size_t width, long long columns) {
    if (columns < 1 || width == 0) return 1;
    const auto w = static_cast<long long>(width);
    return (w + columns - 1) / columns;
}

std::optional<std::vector<std::u32string>> wrap_on_words(const std::u32string& line, long long columns) {
    if (columns < 1) return std::nullopt;

    // raw_of[k]: position in `line` of visible character k.
    std::vector<std::size_t> raw_of;
    raw_of.reserve(line.size());
    for (std::size_t i = 0; i < line.size();) {
        const std::size_t skip = style::sgr_length(line, i);
        if (skip > 0) {
            i += skip;
        } else {
            raw_of.push_back(i++);
        }
    }
    const std::size_t n = raw_of.size();
    if (static_cast<unsigned long long>(n) <= static_cast<unsigned long long>(columns) || n == 0) {
        return std::nullopt;
    }
    const auto width = static_cast<std::size_t>(columns);
    const auto visible = [&](std::size_t k) { return line[raw_of[k]]; };

    std::vector<std::u32string> rows;
    std::size_t start = 0;
    while (start < n) {
        while (start < n && visible(start) == U' ') ++start;
        if (start >= n) break;
        const std::size_t limit = std::min(start + width, n);
        std::size_t end = limit;
        if (limit < n) {
            // Break at the last space before the limit, unless it is the row's
            // first character: then the word is cut at the width.
            std::size_t p = limit;
            while (p > start && visible(p - 1) != U' ') --p;
            if (p > start + 1) end = p - 1;
        }
        const std::size_t raw_end = end < n ? raw_of[end] : line.size();
        rows.push_back(rstrip(line.substr(raw_of[start], raw_end - raw_of[start])));
        start = (end < n && visible(end) == U' ') ? end + 1 : end;
    }
    if (rows.empty()) return std::nullopt;
    return rows;
}

std::u32string render_with_cursor(const std::u32string& text, long long cursor) {
    const auto length = static_cast<long long>(text.size());
    const long long index = std::clamp(cursor, 0LL, length);
    if (index == length) return text + style::inverted(U" ");
    const auto i = static_cast<std::size_t>(index);
    return text.substr(0, i) + style::inverted(text.substr(i, 1)) + text.substr(i + 1);
}

long long body_budget(long long terminal_lines, long long reserved) {
    return std::max(1LL, terminal_lines - reserved - 5);
}

Window place_window(long long count, long long budget, long long window_start,
                    const std::optional<Focus>& focus, const RowsOf& rows_of) {
    // End of the window that starts at `start`: its first line is always taken.
    const auto window_end_from = [&](long long start) {
        long long used = 0;
        long long end = start;
        while (end < count) {
            const long long rows = rows_of(end);
            if (end > start && used + rows > budget) break;
            used += rows;
            ++end;
        }
        return end;
    };
    // Start of the fullest window that ends at `end`; no line is taken
    // unconditionally, so it equals `end` when the line before does not fit.
    const auto window_start_for_end = [&](long long end) {
        long long used = 0;
        long long start = end;
        while (start > 0) {
            const long long rows = rows_of(start - 1);
            if (used + rows > budget) break;
            used += rows;
            --start;
        }
        return start;
    };

    if (focus && count > 0) {
        long long focus_start = std::max(0LL, std::min(focus->start, count));
        long long focus_end = std::max(focus_start + 1, std::min(focus->end, count));
        if (focus_start >= count) {
            // A focus past the body names no line: hold it to the last line.
            focus_start = count - 1;
            focus_end = count;
        }
        if (focus_start < window_start) window_start = focus_start;
        if (window_end_from(window_start) < focus_end) {
            window_start = window_start_for_end(focus_end);
            // A focus taller than the whole budget fits in no window that ends
            // with it: its first line (the one with the pointer) starts the window.
            window_start = std::min(window_start, focus_start);
        }
    }
    window_start = std::max(0LL, std::min(window_start, count));
    long long window_end = window_end_from(window_start);
    if (window_end >= count) {
        window_start = std::min(window_start, window_start_for_end(count));
        window_end = count;
    }
    return {window_start, window_end};
}

}  // namespace nvx::layout
