// The keys of the configurator, each declared once: which key, where it acts,
// what it does, the row of the key reference that describes it and the group
// it is listed under in the Targets footer. The key reference (the help page)
// and the footer's line of further keys are built from this table, and a
// session looks up what a key does here.
//
// Where a key acts decides the order in which it is tried: an open editor
// takes every key; then the search prompt of the Targets screen, which swallows
// every key it does not use; then an open overlay, which ignores the keys it
// does not use (the help, legend, quit and type-rules pages then scroll when
// taller than the terminal); then the keys that act everywhere; then the
// active screen. Within one place the bindings are tried in table order and
// the first match acts; a place may then fall back to another (falls_back_to).
//
// Some actions depend on state the table does not know: every Targets key
// needs a visible row; "h", Enter and removal in the overrides overlay need a
// setting to be listed; "h" on the Run settings screen acts on a setting row
// only. When such a condition fails the key does nothing.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "key_input.hpp"

namespace nvx::keys {

enum class Place {
    Everywhere,  // either screen, no overlay open; tried before the screen's own keys
    Targets,
    RunSettings,
    Help,
    Legend,
    Quit,
    TypeRules,  // the type-rules block drawn inside the Targets screen
    Save,
    Overrides,
    TallPage,      // help, legend, quit and type rules, for keys they do not use themselves
    SearchPrompt,  // the prompt "/" opens in the Targets footer
    ScalarEditor,
    ListEditor,        // moving between the slots of a list
    ListEditorTyping,  // typing into one slot
    TextEntry,         // the number editor and a list slot being typed into, for their text
};

enum class Action {
    None,  // the key is ignored here
    // Pages.
    OpenHelp,
    OpenQuit,
    OpenSave,
    OpenTypeRules,
    OpenLegend,
    OpenOverrides,  // for the selected module, when it has an override scope
    Close,
    SwitchScreen,
    Quit,    // cancel the session
    Choose,  // act on the selected option of the save overlay
    // The selection of a screen or overlay (clamped, never wrapping).
    MoveUp,
    MoveDown,
    PageUp,    // ten rows
    PageDown,  // ten rows
    First,
    Last,
    // Scrolling a page taller than the terminal.
    ScrollUp,
    ScrollDown,
    ScrollPageUp,
    ScrollPageDown,
    ScrollTop,
    ScrollBottom,
    // Targets screen.
    Expand,    // also a bucket of the Run settings screen
    Collapse,  // also a bucket, or from a setting its bucket
    DendrifyModule,
    TrackModule,
    DendrifyType,
    TrackType,
    ClearModule,
    Undo,
    Redo,
    NextUnset,
    OpenSearch,
    NextMatch,
    PreviousMatch,
    // Run settings screen and overrides overlay.
    Describe,        // show or hide the selected setting's description
    Edit,            // Enter on a setting: toggle, cycle or open an editor (a bucket: toggle it)
    RemoveOverride,  // the scope's own value of the selected setting goes
    // Search prompt.
    KeepFound,
    AbandonSearch,
    EraseSearchCharacter,
    TypeSearchCharacter,
    // Inline editors.
    Cancel,
    CursorLeft,
    CursorRight,
    CursorHome,
    CursorEnd,
    EraseBefore,  // Backspace
    EraseAt,      // Delete
    TypeCharacter,
    Save,            // Enter in the scalar editor: parse and write
    SelectPrevious,  // list slots
    SelectNext,
    RemoveElement,
    Select,       // the save slot writes the list; another slot starts typing into it
    StopTyping,   // back to the slots, the slot unchanged
    CommitEntry,  // the typed text replaces the slot's element or is appended
};

// Which keys a binding answers to.
struct KeyTest {
    enum class Kind {
        Texts,      // exactly one of `texts`
        Pattern,    // a classified key (`pattern`)
        Typed,      // one character, not below space
        TypedText,  // one character that is neither below space nor a control character
    };
    Kind kind;
    std::vector<std::u32string> texts;
    const KeyPattern* pattern = nullptr;
};

bool accepts(const KeyTest& test, const std::u32string& key);

// Rows of the key reference, in page order.
enum class HelpRow {
    None,  // not listed
    SetModuleMode,
    SetTypeMode,
    ClearModule,
    ExpandRestructured,
    TypeRules,
    Legend,
    Overrides,
    Find,
    FindAgain,
    ExpandBucket,
    EditSetting,
    DescribeSetting,
    Move,
    FirstLast,
    Save,
    Quit,
    Undo,
    NextUnset,
    RemoveOverride,
    EditorHomeEnd,
};

// Groups of the Targets footer's line of further keys, in line order.
enum class FooterGroup { None, Find, FindAgain, FirstLast, Undo, Redo, NextUnset };

struct Binding {
    Place place;
    KeyTest key;
    Action action;
    HelpRow help = HelpRow::None;
    FooterGroup footer = FooterGroup::None;
};

// Every binding of every place, each place's in the order its keys are tried.
const std::vector<Binding>& bindings();

// Where the keys a place does not use itself are tried next: the scrolling of
// a tall page for the help, legend, quit and type-rules pages, the text keys
// for the editors that take text.
std::optional<Place> falls_back_to(Place place);

// What `key` does in `place` (the first of its bindings that accepts it, then
// those of the place it falls back to); Action::None when none does.
Action action_in(Place place, const std::u32string& key);

// The state a key meets: the active screen (Targets or RunSettings), and what
// is open over it.
struct KeyContext {
    Place screen = Place::Targets;
    std::optional<Place> overlay;
    std::optional<Place> editor;
    bool searching = false;
};

// What `key` does in that state, trying the places in the order described above.
Action action_for(const KeyContext& context, const std::u32string& key);

// --- the key reference --------------------------------------------------------

enum class HelpSection { Targets, RunSettings, Everywhere, Editing };

struct HelpRowText {
    HelpRow row;
    HelpSection section;
    std::u32string keys;  // the keys column, e.g. "p / t"
    std::u32string text;  // what they do
    // Part of the reference as it has always been; false for rows of the keys
    // this program added (search, Home and End, undo, ...).
    bool original;
};

// The rows of the key reference in page order.
const std::vector<HelpRowText>& help_rows();

std::u32string help_section_title(HelpSection section);

// The Targets footer's line of further keys:
// "/ find   n/N next·previous   Home/End   u undo   Ctrl-R redo   ! next unset".
std::u32string further_keys_line();

}  // namespace nvx::keys
