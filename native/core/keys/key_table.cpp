#include "key_table.hpp"

#include <utility>

#include "core/editors/text_state.hpp"
#include "core/text/display_text.hpp"

namespace nvx::keys {
namespace {

KeyTest any_of(std::vector<std::u32string> texts) {
    return {KeyTest::Kind::Texts, std::move(texts)};
}
KeyTest is(const KeyPattern& pattern) {
    return {KeyTest::Kind::Pattern, {}, &pattern};
}
KeyTest typed() {
    return {KeyTest::Kind::Typed, {}};
}
KeyTest typed_text() {
    return {KeyTest::Kind::TypedText, {}};
}

const std::u32string kEscape = U"\x1b";
const std::u32string kBackspace = U"\x7f";  // what terminals send for Backspace in raw mode
const std::u32string kCtrlR = U"\x12";

std::vector<Binding> make_bindings() {
    using A = Action;
    using H = HelpRow;
    using F = FooterGroup;
    using P = Place;
    return {
        // Everywhere, before the screen's own keys.
        {P::Everywhere, any_of({U"?"}), A::OpenHelp},
        {P::Everywhere, any_of({U"q"}), A::OpenQuit, H::Quit},
        {P::Everywhere, any_of({U"s", U"S"}), A::OpenSave, H::Save},
        {P::Everywhere, is(kTab), A::SwitchScreen, H::Move},

        {P::Targets, is(kUp), A::MoveUp, H::Move},
        {P::Targets, is(kDown), A::MoveDown, H::Move},
        {P::Targets, is(kPageUp), A::PageUp},
        {P::Targets, is(kPageDown), A::PageDown},
        {P::Targets, any_of({U"y"}), A::OpenTypeRules, H::TypeRules},
        {P::Targets, any_of({U"h"}), A::OpenLegend, H::Legend},
        {P::Targets, is(kRight), A::Expand, H::ExpandRestructured},
        {P::Targets, is(kLeft), A::Collapse, H::ExpandRestructured},
        {P::Targets, any_of({U"p"}), A::DendrifyModule, H::SetModuleMode},
        {P::Targets, any_of({U"t"}), A::TrackModule, H::SetModuleMode},
        {P::Targets, any_of({U"P"}), A::DendrifyType, H::SetTypeMode},
        {P::Targets, any_of({U"T"}), A::TrackType, H::SetTypeMode},
        {P::Targets, any_of({U"x"}), A::ClearModule, H::ClearModule},
        {P::Targets, is(kEnter), A::OpenOverrides, H::Overrides},
        {P::Targets, any_of({U"u"}), A::Undo, H::Undo, F::Undo},
        {P::Targets, any_of({kCtrlR}), A::Redo, H::Undo, F::Redo},
        {P::Targets, any_of({U"!"}), A::NextUnset, H::NextUnset, F::NextUnset},
        {P::Targets, any_of({U"/"}), A::OpenSearch, H::Find, F::Find},
        {P::Targets, any_of({U"n"}), A::NextMatch, H::FindAgain, F::FindAgain},
        {P::Targets, any_of({U"N"}), A::PreviousMatch, H::FindAgain, F::FindAgain},
        {P::Targets, is(kHome), A::First, H::FirstLast, F::FirstLast},
        {P::Targets, is(kEnd), A::Last, H::FirstLast, F::FirstLast},

        {P::SearchPrompt, is(kEnter), A::KeepFound, H::Find},
        {P::SearchPrompt, any_of({kEscape}), A::AbandonSearch, H::Find},
        {P::SearchPrompt, any_of({kBackspace, U"\b"}), A::EraseSearchCharacter},
        {P::SearchPrompt, typed_text(), A::TypeSearchCharacter},

        // Up and down step over the divider rows.
        {P::RunSettings, is(kUp), A::MoveUp, H::Move},
        {P::RunSettings, is(kDown), A::MoveDown, H::Move},
        {P::RunSettings, is(kHome), A::First, H::FirstLast},
        {P::RunSettings, is(kEnd), A::Last, H::FirstLast},
        {P::RunSettings, is(kPageUp), A::PageUp},
        {P::RunSettings, is(kPageDown), A::PageDown},
        {P::RunSettings, is(kRight), A::Expand, H::ExpandBucket},
        {P::RunSettings, is(kLeft), A::Collapse, H::ExpandBucket},
        {P::RunSettings, any_of({U"h"}), A::Describe, H::DescribeSetting},
        {P::RunSettings, is(kEnter), A::Edit, H::EditSetting},

        {P::Help, any_of({U"?", kEscape}), A::Close},
        {P::Legend, any_of({U"h", kEscape}), A::Close},
        {P::Quit, any_of({U"y", U"Y"}), A::Quit},
        {P::Quit, any_of({U"n", U"N", kEscape}), A::Close},
        {P::TypeRules, any_of({U"y", U"Y", kEscape}), A::Close, H::TypeRules},
        {P::TypeRules, any_of({U"s", U"S"}), A::OpenSave, H::Save},

        {P::TallPage, is(kUp), A::ScrollUp, H::FirstLast},
        {P::TallPage, is(kDown), A::ScrollDown, H::FirstLast},
        {P::TallPage, is(kPageUp), A::ScrollPageUp, H::FirstLast},
        {P::TallPage, is(kPageDown), A::ScrollPageDown, H::FirstLast},
        {P::TallPage, is(kHome), A::ScrollTop, H::FirstLast},
        {P::TallPage, is(kEnd), A::ScrollBottom, H::FirstLast},

        {P::Save, is(kUp), A::MoveUp, H::Move},
        {P::Save, is(kDown), A::MoveDown, H::Move},
        {P::Save, any_of({kEscape, U"x"}), A::Close},
        {P::Save, is(kHome), A::First, H::FirstLast},
        {P::Save, is(kEnd), A::Last, H::FirstLast},
        {P::Save, is(kEnter), A::Choose},

        {P::Overrides, any_of({kEscape, U"x"}), A::Close},
        {P::Overrides, is(kUp), A::MoveUp, H::Move},
        {P::Overrides, is(kDown), A::MoveDown, H::Move},
        {P::Overrides, is(kHome), A::First, H::FirstLast},
        {P::Overrides, is(kEnd), A::Last, H::FirstLast},
        {P::Overrides, any_of({U"h"}), A::Describe},
        {P::Overrides, is(kEnter), A::Edit},
        {P::Overrides, any_of({kBackspace}), A::RemoveOverride, H::RemoveOverride},
        {P::Overrides, is(kDelete), A::RemoveOverride, H::RemoveOverride},
        {P::Overrides, any_of({U"s", U"S"}), A::OpenSave, H::Save},

        // Editing the text of the number editor or of a list entry; Escape and
        // Enter are the editor's own.
        {P::TextEntry, is(kLeft), A::CursorLeft},
        {P::TextEntry, is(kRight), A::CursorRight},
        {P::TextEntry, is(kHome), A::CursorHome, H::EditorHomeEnd},
        {P::TextEntry, is(kEnd), A::CursorEnd, H::EditorHomeEnd},
        {P::TextEntry, any_of({kBackspace}), A::EraseBefore},
        {P::TextEntry, is(kDelete), A::EraseAt},
        {P::TextEntry, typed(), A::TypeCharacter},

        {P::ScalarEditor, any_of({kEscape}), A::Cancel},
        {P::ScalarEditor, is(kEnter), A::Save},

        {P::ListEditor, any_of({kEscape}), A::Cancel},
        {P::ListEditor, is(kLeft), A::SelectPrevious},
        {P::ListEditor, is(kRight), A::SelectNext},
        {P::ListEditor, any_of({kBackspace}), A::RemoveElement},
        {P::ListEditor, is(kDelete), A::RemoveElement},
        {P::ListEditor, is(kSelect), A::Select},

        {P::ListEditorTyping, any_of({kEscape}), A::StopTyping},
        {P::ListEditorTyping, is(kEnter), A::CommitEntry},
    };
}

std::vector<HelpRowText> make_help_rows() {
    using H = HelpRow;
    using S = HelpSection;
    return {
        {H::SetModuleMode, S::Targets, U"p / t", U"dendrify / track this module", true},
        {H::SetTypeMode, S::Targets, U"P / T", U"dendrify / track every module of this type", true},
        {H::ClearModule, S::Targets, U"x", U"clear this module (falls back to its type rule)", true},
        {H::ExpandRestructured, S::Targets, U"→ / ←",
         U"expand / collapse a module that will be restructured (↯)", true},
        {H::TypeRules, S::Targets, U"y", U"show / hide the type-rules list", true},
        {H::Legend, S::Targets, U"h", U"show the marker & colour legend", true},
        {H::Overrides, S::Targets, U"Enter", U"open Overrides for a dendrified module", true},
        {H::Find, S::Targets, U"/", U"find a module by id or class name (Enter keep · Esc back)", false},
        {H::FindAgain, S::Targets, U"n / N", U"next / previous module that matches the last search", false},
        {H::ExpandBucket, S::RunSettings, U"→ / ←", U"expand / collapse a bucket", true},
        {H::EditSetting, S::RunSettings, U"Enter", U"edit the highlighted setting", true},
        {H::DescribeSetting, S::RunSettings, U"h", U"describe the highlighted setting", true},
        {H::Move, S::Everywhere, U"↑↓ / jk", U"move        Tab  switch panel", true},
        {H::FirstLast, S::Everywhere, U"Home/End",
         U"first / last row; ↑↓ PgUp PgDn Home End scroll a tall page", false},
        {H::Save, S::Everywhere, U"s", U"save & start training", true},
        {H::Quit, S::Everywhere, U"q", U"quit without configuring", true},
        {H::Undo, S::Editing, U"u", U"undo the last rule change (p t P T x)     Ctrl-R  redo it", false},
        {H::NextUnset, S::Editing, U"!", U"jump to the next module that needs a mode", false},
        {H::RemoveOverride, S::Editing, U"Del / ⌫", U"in Overrides: remove this scope's value of a setting",
         false},
        {H::EditorHomeEnd, S::Editing, U"Home/End", U"in a number editor: cursor to the start / end", false},
    };
}

// Labels of the footer groups, in line order (FooterGroup::None has none).
const std::vector<std::pair<FooterGroup, std::u32string>>& footer_labels() {
    static const std::vector<std::pair<FooterGroup, std::u32string>> labels = {
        {FooterGroup::Find, U"/ find"},        {FooterGroup::FindAgain, U"n/N next·previous"},
        {FooterGroup::FirstLast, U"Home/End"}, {FooterGroup::Undo, U"u undo"},
        {FooterGroup::Redo, U"Ctrl-R redo"},   {FooterGroup::NextUnset, U"! next unset"},
    };
    return labels;
}

}  // namespace

bool accepts(const KeyTest& test, const std::u32string& key) {
    switch (test.kind) {
        case KeyTest::Kind::Texts:
            for (const std::u32string& text : test.texts) {
                if (key == text) return true;
            }
            return false;
        case KeyTest::Kind::Pattern:
            return matches(*test.pattern, key);
        case KeyTest::Kind::Typed:
            return editors::is_typed_character(key);
        case KeyTest::Kind::TypedText:
            return editors::is_typed_character(key) && !display::is_control(key.front());
    }
    return false;
}

const std::vector<Binding>& bindings() {
    static const std::vector<Binding> table = make_bindings();
    return table;
}

std::optional<Place> falls_back_to(Place place) {
    switch (place) {
        case Place::Help:
        case Place::Legend:
        case Place::Quit:
        case Place::TypeRules:
            return Place::TallPage;
        case Place::ScalarEditor:
        case Place::ListEditorTyping:
            return Place::TextEntry;
        default:
            return std::nullopt;
    }
}

Action action_in(Place place, const std::u32string& key) {
    for (const Binding& binding : bindings()) {
        if (binding.place == place && accepts(binding.key, key)) return binding.action;
    }
    const std::optional<Place> fallback = falls_back_to(place);
    return fallback ? action_in(*fallback, key) : Action::None;
}

Action action_for(const KeyContext& context, const std::u32string& key) {
    if (context.editor) return action_in(*context.editor, key);
    if (context.searching) return action_in(Place::SearchPrompt, key);
    if (context.overlay) return action_in(*context.overlay, key);
    const Action global = action_in(Place::Everywhere, key);
    return global != Action::None ? global : action_in(context.screen, key);
}

const std::vector<HelpRowText>& help_rows() {
    static const std::vector<HelpRowText> rows = make_help_rows();
    return rows;
}

std::u32string help_section_title(HelpSection section) {
    switch (section) {
        case HelpSection::Targets:
            return U"Targets screen";
        case HelpSection::RunSettings:
            return U"Run settings screen";
        case HelpSection::Everywhere:
            return U"Everywhere";
        case HelpSection::Editing:
            return U"Editing";
    }
    return U"";
}

std::u32string further_keys_line() {
    std::u32string line;
    for (const auto& [group, label] : footer_labels()) {
        bool bound = false;
        for (const Binding& binding : bindings()) bound = bound || binding.footer == group;
        if (!bound) continue;
        if (!line.empty()) line += U"   ";
        line += label;
    }
    return line;
}

}  // namespace nvx::keys
