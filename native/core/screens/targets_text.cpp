#include "targets_text.hpp"

#include "core/text/display_text.hpp"
#include "core/text/styling.hpp"

namespace nvx::targets {
namespace {

using style::kReset;

// Column where the mode text of a normal row starts, and where the type-rules
// hint of the status line starts; a wider lead is followed by kMinGap spaces.
constexpr std::size_t kTailColumn = 46;
constexpr std::size_t kHintColumn = 58;
constexpr std::size_t kMinGap = 2;
// Cursor (2), the space after the marker (1), the two spaces after the id (2)
// and the brackets around the class name (2).
constexpr std::size_t kLeadFixedWidth = 7;

const std::u32string kDimOpen = U"\x1b[90m";
const std::u32string kBlocks = U"\u2588\u2588";

// "\e[38;2;R;G;Bm" for a palette colour: color_text without the text and reset.
std::u32string color_open(const std::u32string& hex) {
    const std::u32string styled = style::color_text(std::u32string(), hex);
    return styled.substr(0, styled.size() - kReset.size());
}

const std::u32string& open_of(ModeColor color) {
    static const std::u32string dendrify = color_open(style::kColorDendrify);
    static const std::u32string track = color_open(style::kColorTrack);
    static const std::u32string other = color_open(style::kColorNone);
    switch (color) {
        case ModeColor::Dendrify:
            return dendrify;
        case ModeColor::Track:
            return track;
        default:
            return other;
    }
}

const std::u32string& accent_open() {
    static const std::u32string open = color_open(style::kColorAccent);
    return open;
}

const std::u32string& attention_open() {
    static const std::u32string open = color_open(style::kColorAttention);
    return open;
}

const std::u32string& title_open() {
    static const std::u32string open = color_open(style::kColorTitle);
    return open;
}

// Appends `open` + the pieces + reset: one styled piece built in place.
template <typename... Pieces>
void styled(std::u32string& out, const std::u32string& open, const Pieces&... pieces) {
    out += open;
    (out.append(pieces), ...);
    out += kReset;
}

template <typename... Pieces>
void dimmed(std::u32string& out, const Pieces&... pieces) {
    styled(out, kDimOpen, pieces...);
}

void cursor(std::u32string& out, bool selected) {
    if (selected) {
        styled(out, title_open(), std::u32string_view(U"> "));
    } else {
        out += U"  ";
    }
}

std::size_t gap(std::size_t column, std::size_t used) {
    return used + kMinGap > column ? kMinGap : column - used;
}

// Cursor, marker and indentation: how a module row starts; `room` is reserved
// for the rest of the row besides its texts.
std::u32string row_start(const RowText& row, const Marker& marker, std::size_t room) {
    std::u32string out;
    out.reserve(room + row.id.size() + row.type_name.size() + row.indent.size());
    cursor(out, row.selected);
    out += marker.display;
    out += U" ";
    out += row.indent;
    return out;
}

}  // namespace

std::u32string tab_bar(bool targets_active) {
    std::u32string out = U"[ ";
    const std::u32string_view targets = U"Targets";
    const std::u32string_view run = U"Run settings";
    if (targets_active) {
        styled(out, accent_open(), targets);
    } else {
        out += targets;
    }
    out += U" \u2502 ";
    if (targets_active) {
        out += run;
    } else {
        styled(out, accent_open(), run);
    }
    out += U" ]            ";
    dimmed(out, std::u32string_view(U"[Tab] switch panel    ? help"));
    return out;
}

std::u32string block(ModeColor color) {
    std::u32string out;
    styled(out, open_of(color), kBlocks);
    return out;
}

std::u32string mode_colored(std::u32string_view text, ModeColor color) {
    std::u32string out;
    styled(out, open_of(color), text);
    return out;
}

Marker marker(MarkerKind kind, ModeColor color) {
    Marker m;
    switch (kind) {
        case MarkerKind::Blank:
            m.display = U"     ";
            m.plain = U"     ";
            return m;
        case MarkerKind::Attention:
            styled(m.display, attention_open(), std::u32string_view(U"!"));
            m.display += U" ";
            styled(m.display, attention_open(), kBlocks);
            m.display += U" ";
            m.plain = U"! \u2588\u2588 ";
            return m;
        case MarkerKind::Inherited:
            m.display = U"\u21b3 ";
            m.plain = U"\u21b3 \u2588\u2588 ";
            break;
        case MarkerKind::ById:
            m.display = U"* ";
            m.plain = U"* \u2588\u2588 ";
            break;
        case MarkerKind::ByType:
            m.display = U"  ";
            m.plain = U"  \u2588\u2588 ";
            break;
    }
    styled(m.display, open_of(color), kBlocks);
    m.display += U" ";
    return m;
}

std::u32string legend_line() {
    return style::dim(U"  dendrify = add dendrites   \u00b7   track = not dendrified   ");
}

std::u32string status_line(std::size_t need, std::size_t type_rule_count, bool all_reached) {
    std::u32string status;
    if (need > 0) {
        const bool one = need == 1;
        styled(status, attention_open(), std::u32string_view(U"  \u26a0 "), display::decimal(need),
               std::u32string_view(one ? U" module still needs a mode" : U" modules still need a mode"));
    } else if (all_reached) {
        styled(status, open_of(ModeColor::Dendrify),
               std::u32string_view(U"  \u2713 every parameter is dendrified or tracked"));
    }
    status.append(gap(kHintColumn, style::visible_width(status)), U' ');
    styled(status, accent_open(), std::u32string_view(U"[y] type rules ("), display::decimal(type_rule_count),
           std::u32string_view(U")"));
    return status;
}

std::u32string key_hints_line() {
    return style::dim(
        U"p/t dendrify\u00b7track this module   P/T whole type   x clear   h legend   "
        U"\u2191\u2193/jk move   s start");
}

void append_replaced_root_lines(std::vector<std::u32string>& out, const RowText& row,
                                std::u32string_view child_count, bool open) {
    std::u32string first;
    first.reserve(64 + row.id.size() + row.type_name.size() + row.indent.size());
    cursor(first, row.selected);
    styled(first, accent_open(), std::u32string_view(U"\u21af"));
    first += U"   ";
    first += row.indent;
    first += row.id;
    first += U"  ";
    dimmed(first, std::u32string_view(U"["), row.type_name, std::u32string_view(U"]"));
    first += U"   ";
    dimmed(first, std::u32string_view(U"will be restructured for NVX before training"));
    out.push_back(std::move(first));

    std::u32string second = U"      ";
    dimmed(second, std::u32string_view(U"\u2514 "), child_count,
           std::u32string_view(U" modules below \u2014 ids won't exist at train time \u00b7 target by type "
                               U"(P/T), not id  "));
    styled(second, accent_open(), std::u32string_view(open ? U"[\u2190 collapse]" : U"[\u2192 expand]"));
    out.push_back(std::move(second));
}

std::u32string stale_row(const RowText& row, const Marker& marker) {
    std::u32string out = row_start(row, marker, 48);
    dimmed(out, row.id, std::u32string_view(U"  ["), row.type_name, std::u32string_view(U"] (id stale)"));
    return out;
}

std::u32string override_mark() {
    return style::dim(U" \u2699");
}

std::u32string normal_row(const RowText& row, const Marker& marker, const Tail& tail, bool has_params,
                          std::u32string_view params, std::u32string_view shared_with) {
    std::u32string out = row_start(row, marker, 160);
    out += row.id;
    out += U"  ";
    dimmed(out, std::u32string_view(U"["), row.type_name, std::u32string_view(U"]"));

    const std::size_t lead =
        row.id.size() + row.type_name.size() + row.indent.size() + marker.plain.size() + kLeadFixedWidth;
    out.append(gap(kTailColumn, lead), U' ');

    switch (tail.kind) {
        case Tail::Kind::Empty:
            break;
        case Tail::Kind::NeedsMode:
            styled(out, attention_open(), std::u32string_view(U"needs a mode"));
            break;
        case Tail::Kind::Mode:
            styled(out, open_of(tail.color), std::u32string_view(U"mode="), tail.verb);
            if (tail.inherited) {
                dimmed(out, std::u32string_view(U"  (via "), tail.origin, std::u32string_view(U")"));
            }
            if (tail.overridden) {
                dimmed(out, std::u32string_view(U"  \u2014 your "), tail.overridden_verb,
                       std::u32string_view(U" here is ignored"));
            }
            break;
    }
    if (tail.override_mark) out += override_mark();
    if (has_params) {
        dimmed(out, std::u32string_view(U"   params="), params);
        if (!shared_with.empty()) dimmed(out, std::u32string_view(U" shared with "), shared_with);
    }
    return out;
}

std::u32string shared_weights_text(std::u32string_view row, std::u32string_view owner, std::size_t tensors,
                                   std::u32string_view row_verb, std::u32string_view owner_verb) {
    std::u32string out(row);
    out += tensors == 1 ? std::u32string(U" shares a weight with ")
                        : U" shares " + display::decimal(tensors) + U" weights with ";
    out += owner;
    out += U": ";
    out += row_verb;
    out += U" vs ";
    out += owner_verb;
    return out;
}

std::u32string shared_conflict_line(const std::u32string& first_pair, std::size_t tensors) {
    std::u32string out;
    styled(
        out, attention_open(), std::u32string_view(U"\u26a0 "), first_pair, std::u32string_view(U" ("),
        display::decimal(tensors),
        std::u32string_view(tensors == 1 ? U" shared tensor in conflict)" : U" shared tensors in conflict)"));
    return out;
}

std::u32string unreached_parameters_line(std::u32string_view count, bool one,
                                         const std::vector<std::u32string>& names, bool more) {
    std::u32string listed;
    for (const std::u32string& name : names) {
        if (!listed.empty()) listed += U", ";
        listed += name;
    }
    if (more) listed += U", \u2026";
    std::u32string out;
    dimmed(out, std::u32string_view(U"the model itself holds "), count,
           std::u32string_view(one ? U" parameter (" : U" parameters ("), listed,
           std::u32string_view(U") that no rule reaches"));
    return out;
}

}  // namespace nvx::targets
