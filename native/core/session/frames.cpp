// The frames of a session: the open overlay's page or the active screen, with
// the session's own lines (the line of further keys, the status message, the
// search prompt, the type-rules block inside the Targets header), fitted to
// the terminal size read once for the frame, the window placed once.
#include <algorithm>
#include <utility>

#include "core/keys/key_table.hpp"
#include "core/layout/compose.hpp"
#include "core/screens/editor_frame.hpp"
#include "core/screens/overrides_frame.hpp"
#include "core/screens/run_frame.hpp"
#include "core/screens/save_text.hpp"
#include "core/screens/static_pages.hpp"
#include "core/screens/type_rules_text.hpp"
#include "core/text/display_text.hpp"
#include "core/text/styling.hpp"
#include "session.hpp"

namespace nvx::session {
namespace {

using layout::FrameLine;
using layout::kGivesWayLast;

// When the session's lines of the Targets footer give way: the line of keys
// beyond the screen's own hint after the rules; the status message only when
// the body would get no row. The search prompt stays.
constexpr int kFurtherKeysRank = 6;
constexpr int kStatusRank = kGivesWayLast + 2;
// The type-rules block the user asked for, once cut to one rule, goes last.
constexpr int kTypeRulesRank = kGivesWayLast + 3;

long long fitted_rows(const std::vector<FrameLine>& lines, long long columns) {
    long long rows = 0;
    for (const FrameLine& line : lines) rows += layout::fitted_line_rows(line, columns);
    return rows;
}

// `frame` with the type-rules block `box` inside its header, between two
// blank lines: as the screens compose it when it fits whole, else fitted with
// the block cut to the rules that fit from `first` on.
layout::FittedFrame show_with_block(layout::ScreenFrame frame, const overlays::Lines& box,
                                    long long window_start, long long& first, layout::TerminalSize size) {
    const long long rows = layout::frame_rows_available(size.lines);
    const long long wanted = std::min(layout::kWantedBodyRows, frame.body_count);
    // The header's own rows (without the block) decide the screen's body budget.
    const bool body_room =
        layout::body_budget(size.lines, layout::wrapped_rows(frame.header, size.columns) +
                                            layout::wrapped_rows(frame.footer, size.columns)) >= wanted;

    // The box is cut to the width rather than wrapped.
    overlays::Lines clipped;
    std::vector<FrameLine> block;
    for (const std::u32string& line : box) {
        clipped.push_back(layout::clip_to_width(line, size.columns));
        block.push_back({clipped.back(), kTypeRulesRank});
    }
    const auto block_size = static_cast<long long>(block.size());
    // Rows of the rules, and of the box's frame, its close hint and the blank lines around it.
    long long rule_rows = 0;
    long long fixed = 2;
    for (long long i = 0; i < block_size; ++i) {
        const long long line_rows =
            layout::fitted_line_rows(block[static_cast<std::size_t>(i)], size.columns);
        (i == 0 || i >= block_size - 2 ? fixed : rule_rows) += line_rows;
    }
    const long long room = rows - fitted_rows(frame.header, size.columns) -
                           fitted_rows(frame.footer, size.columns) - fixed - wanted - 2;
    const FrameLine blank{U"", 1};
    const bool whole = room >= rule_rows || block_size < 4;
    if (whole) {
        first = 0;
    } else {
        block.clear();
        for (std::u32string& line : overlays::cut_type_rules_box(clipped, first, room - 1, size.columns)) {
            block.push_back({std::move(line), kTypeRulesRank});
        }
    }
    std::vector<FrameLine> header = frame.header;
    header.push_back(blank);
    header.insert(header.end(), block.begin(), block.end());
    header.push_back(blank);

    if (whole && body_room) {
        // The screens' own composition, the whole box in its header.
        layout::ScreenFrame composed_frame = frame;
        composed_frame.header.push_back({U""});
        for (const std::u32string& line : box) composed_frame.header.push_back({line});
        composed_frame.header.push_back({U""});
        layout::FittedFrame composed = layout::compose_screen(composed_frame, window_start, size);
        if (layout::frame_rows(composed.text, size.columns) <= rows) return composed;
    }
    return layout::fit_screen(header, frame.body_count, frame.body_line, frame.footer, window_start,
                              frame.focus, size.columns, rows, layout::kWantedBodyRows);
}

}  // namespace

MarkedScopes Session::marked_scopes() const {
    MarkedScopes marked;
    for (std::u32string& key :
         settings::scopes_with_values(state_.session_overrides, state_.saved_overrides)) {
        marked.insert(std::move(key));
    }
    return marked;
}

std::u32string Session::frame(layout::TerminalSize size) {
    if (state_.overlay != state_.drawn_overlay) {
        // A newly opened overlay starts at its top.
        state_.page_first_row = state_.save_window_start = state_.overrides_window_start =
            state_.type_rules_first = 0;
        state_.drawn_overlay = state_.overlay;
    }
    if (layout::too_small(size.columns, size.lines)) return layout::too_small_frame(size.columns, size.lines);
    switch (state_.overlay) {
        case Overlay::Help:
            return shown_page(overlays::session_help_page(), state_.page_first_row, size);
        case Overlay::Legend:
            return shown_page(overlays::legend_page(), state_.page_first_row, size);
        case Overlay::Quit:
            return shown_page(overlays::quit_page(), state_.page_first_row, size);
        case Overlay::Save: {
            // The page and its selected option's line, from the session's model.
            const std::u32string path = display::escape_controls(world_.configuration().config_target_path());
            const std::size_t options = overlays::save_options(model_->unset_rows().size(), path).size();
            std::optional<std::size_t> selected;
            if (state_.save_selected >= 0 && static_cast<std::size_t>(state_.save_selected) < options) {
                selected = static_cast<std::size_t>(state_.save_selected);
            }
            layout::PageFrame page = model_->save_page(selected, path);
            // A save that failed says why under the options.
            if (!state_.notice.empty()) page.lines.push_back(overlays::message_line(state_.notice));
            return shown_page(page, state_.save_window_start, size);
        }
        case Overlay::Overrides:
            return shown_page(overrides_page(), state_.overrides_window_start, size);
        case Overlay::None:
        case Overlay::TypeRules:
            break;
    }
    return state_.screen == Screen::Targets ? targets_screen(size) : run_screen(size);
}

std::u32string Session::shown_page(const layout::PageFrame& page, long long& window_start,
                                   layout::TerminalSize size) {
    layout::FittedFrame shown = layout::show_page(page, window_start, size);
    window_start = shown.window_start;
    return layout::wrapped_text(shown.text, size.columns);
}

layout::PageFrame Session::overrides_page() {
    settings::SettingsPort& port = world_.settings();
    overlays::OverridesPage page;
    page.id_scope = state_.scope.by_id;
    page.scope_key = state_.scope.key;
    const std::vector<std::pair<std::u32string, settings::Value>> values =
        settings::merged_scope(state_.scope.key, state_.session_overrides, state_.saved_overrides);
    long long position = 0;
    for (const settings::Name& name : port.customizable()) {
        overlays::OverrideRow row;
        const auto own = std::find_if(values.begin(), values.end(),
                                      [&](const auto& entry) { return entry.first == name.text; });
        row.overridden = own != values.end();
        const settings::Value value = row.overridden ? own->second : port.read(name);
        row.selected = position++ == state_.overrides_selected;
        row.value_text = port.display_text(name, value);
        row.name = name.text;
        page.rows.push_back(std::move(row));
    }
    if (!state_.describe_name.empty()) {
        page.described.emplace(state_.describe_name, port.setting_help({state_.describe_name, nullptr}));
    }
    page.notice = state_.notice;
    return overlays::overrides_frame(page);
}

std::u32string Session::run_screen(layout::TerminalSize size) {
    settings::SettingsPort& port = world_.settings();
    const RunRows rows(port, state_.expanded_buckets);
    const auto count = static_cast<long long>(rows.items.size());
    if (state_.run_selected >= count) state_.run_selected = std::max(0LL, count - 1);
    const long long selected = state_.run_selected;

    std::optional<std::pair<std::u32string, std::u32string>> described;
    if (!state_.describe_name.empty()) {
        described.emplace(state_.describe_name, port.setting_help({state_.describe_name, nullptr}));
    }
    layout::ScreenFrame frame = screens::run_settings_frame(
        count,
        [&](long long index) {
            const settings::RunItem& item = rows.items[static_cast<std::size_t>(index)];
            screens::RunRow row;
            row.kind = item.kind;
            row.selected = index == selected;
            switch (item.kind) {
                case settings::RunItem::Kind::Bucket:
                    row.name = rows.bucket_of(item).text;
                    row.count = display::decimal(static_cast<long long>(item.count));
                    row.expanded = item.expanded;
                    break;
                case settings::RunItem::Kind::Setting: {
                    const settings::Name& name = rows.setting_of(item);
                    const settings::Value value = rows.value_of(item);
                    row.name = name.text;
                    row.value_text = port.display_text(name, value);
                    row.hint = screens::run_hint(port.is_enumerated(name), value);
                    break;
                }
                case settings::RunItem::Kind::Divider:
                    break;
            }
            return row;
        },
        described, layout::Focus{selected, selected + 1});
    if (!state_.status.empty()) {
        frame.footer.push_back({overlays::message_line(state_.status), screens::run_ranks::kStatus});
    }
    layout::FittedFrame shown = layout::show_screen(frame, state_.run_window_start, size);
    state_.run_window_start = shown.window_start;
    return layout::wrapped_text(shown.text, size.columns);
}

std::u32string Session::targets_screen(layout::TerminalSize size) {
    visible_clamped();
    const MarkedScopes marked = marked_scopes();
    layout::ScreenFrame frame =
        model_->targets_frame(state_.open_modules, static_cast<std::size_t>(state_.target_selected), marked);
    // The keys beyond the screen's own hint, under the rule that ends the
    // tree: the budget line, the notes under it and the hint stay together.
    frame.footer.insert(frame.footer.begin() + 1, {style::dim(keys::further_keys_line()), kFurtherKeysRank});
    if (!state_.status.empty()) frame.footer.push_back({overlays::message_line(state_.status), kStatusRank});
    if (state_.search.open) frame.footer.push_back({search_prompt_line(), 0});

    layout::FittedFrame shown;
    if (state_.overlay == Overlay::TypeRules) {
        // Never wider than the terminal; the rules of classes that hold overrides are marked.
        const overlays::Lines box = model_->type_rules_block(
            *world_.rule_lists(), marked, static_cast<std::size_t>(std::max(0LL, size.columns)));
        shown =
            show_with_block(std::move(frame), box, state_.target_window_start, state_.type_rules_first, size);
    } else {
        shown = layout::show_screen(frame, state_.target_window_start, size);
    }
    state_.target_window_start = shown.window_start;
    return layout::wrapped_text(shown.text, size.columns);
}

layout::ScreenFrame Session::editor_frame() const {
    return state_.scalar_editor ? screens::scalar_editor_frame(*state_.scalar_editor)
                                : screens::list_editor_frame(*state_.list_editor);
}

}  // namespace nvx::session
