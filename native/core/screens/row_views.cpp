#include "row_views.hpp"

#include "core/text/display_text.hpp"
#include "core/text/human_count.hpp"

namespace nvx::targets {
namespace {

std::u32string ascii(const std::string& text) {
    return std::u32string(text.begin(), text.end());
}

}  // namespace

std::u32string shown_text(const model::Name& name, model::NameOracle& oracle) {
    std::u32string text = model::text_of(name, oracle);
    display::escape_controls_in_place(text);
    return text;
}

std::u32string count_text(const model::ModuleTable& table, std::size_t row) {
    const model::Count& count = table.own_counts.at(row, model::Field::DirectParamCount);
    if (count.machine) return ascii(target::format_human_count(count.value));
    return table.count_texts.at(row);
}

const std::u32string& CountTexts::of(const model::ModuleTable& table, std::size_t row) {
    const model::Count& count = table.own_counts.at(row, model::Field::DirectParamCount);
    if (!count.machine) return other_ = table.count_texts.at(row);
    auto found = machine_.find(count.value);
    if (found == machine_.end()) found = machine_.emplace(count.value, count_text(table, row)).first;
    return found->second;
}

const std::u32string& ClassNameTexts::of(const model::ModuleTable& table, std::size_t row,
                                         model::NameOracle& oracle) {
    const int slot = table.type_slot(row);
    auto found = by_slot_.find(slot);
    if (found == by_slot_.end())
        found = by_slot_.emplace(slot, shown_text(table.type_name(row), oracle)).first;
    return found->second;
}

std::u32string indent_text(std::int64_t repeats) {
    return std::u32string(static_cast<std::size_t>(repeats) * 2, U' ');
}

ModeColor mode_color(model::Mode mode) {
    switch (mode) {
        case model::Mode::Dendrified:
            return ModeColor::Dendrify;
        case model::Mode::Tracked:
            return ModeColor::Track;
        case model::Mode::None:
            break;
    }
    return ModeColor::Other;
}

void set_mode_part(RowView& row, bool owns, model::Mode eff, model::Source source,
                   const std::u32string& origin, model::Mode overridden) {
    if (eff == model::Mode::None) {
        row.marker = owns ? MarkerKind::Attention : MarkerKind::Blank;
        row.tail = owns ? Tail::Kind::NeedsMode : Tail::Kind::Empty;
        return;
    }
    row.marker = source == model::Source::Inherited ? MarkerKind::Inherited
                 : source == model::Source::Id      ? MarkerKind::ById
                                                    : MarkerKind::ByType;
    row.color = mode_color(eff);
    row.tail = Tail::Kind::Mode;
    row.verb = model::mode_verb(eff);
    row.inherited = source == model::Source::Inherited;
    if (row.inherited) row.origin = origin;
    row.overridden = overridden != model::Mode::None;
    if (row.overridden) row.overridden_verb = model::mode_verb(overridden);
}

ConflictNote conflict_note(const model::SharedConflict& pair,
                           const std::function<std::u32string(std::size_t row)>& shown_id) {
    auto verb = [](model::Mode mode) {
        return mode == model::Mode::None ? std::u32string(U"none") : std::u32string(model::mode_verb(mode));
    };
    return {shown_id(pair.row), shown_id(pair.owner), pair.tensors, verb(pair.row_mode),
            verb(pair.owner_mode)};
}

UnreachedNote unreached_note(const model::Unreached& unreached) {
    UnreachedNote note;
    note.count = ascii(target::format_human_count(unreached.elements));
    note.one = unreached.elements == 1;
    for (std::size_t k = 0; k < unreached.names.size() && k < kUnreachedNamesShown; ++k) {
        note.names.push_back(unreached.names[k]);
    }
    note.more = unreached.names.size() > kUnreachedNamesShown;
    return note;
}

std::vector<overlays::TypeRuleView> type_rule_views(const model::ModuleTable& table,
                                                    const std::vector<model::TypeRule>& rules,
                                                    model::NameOracle& oracle) {
    std::vector<overlays::TypeRuleView> views;
    for (const model::TypeRule& rule : rules) {
        overlays::TypeRuleView view;
        view.name = shown_text(rule.name, oracle);
        view.color = mode_color(rule.mode);
        view.verb = model::mode_verb(rule.mode);
        view.count = rule.live_count;
        const model::TypeRuleHints hints = model::type_rule_hints(table, rule.name, oracle);
        if (hints.matches_nothing && rule.live_count == 0)
            view.hints.push_back(overlays::matches_nothing_text());
        if (!hints.near_misses.empty()) {
            std::vector<std::pair<std::u32string, std::size_t>> classes;
            for (const model::NearMiss& miss : hints.near_misses) {
                if (classes.size() == overlays::kNearMissesShown) break;
                classes.emplace_back(shown_text(miss.type_name, oracle), miss.count);
            }
            view.hints.push_back(overlays::near_miss_text(
                classes, hints.near_misses.size() > overlays::kNearMissesShown, view.name));
        }
        views.push_back(std::move(view));
    }
    return views;
}

}  // namespace nvx::targets
