// The four rule lists (ids to dendrify, ids to track, class names to dendrify,
// class names to track) as values, and every rule that reads or rewrites them:
// the clean-up run before each pass, the mode a list pair gives a name, and
// the edits of the Targets screen's keys.
//
// The lists live in the configuration object. Each rule reads a list through
// a RuleStore at the moment its definition reads it and writes new lists back
// in the order its definition writes them, so the configuration object sees
// exactly the calls it always saw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "flat_map.hpp"
#include "names.hpp"

namespace nvx::model {

enum class RuleKind : std::uint8_t { IdsToDendrify, IdsToTrack, NamesToDendrify, NamesToTrack };

enum class Mode : std::uint8_t { None, Dendrified, Tracked };

// The mode words of the rule lists and of the resolved records.
const char* mode_text(Mode mode);  // "dendrified", "tracked"; nullptr for None
// The present-tense verb: "dendrify", "track".
std::u32string_view mode_verb(Mode mode);

struct RuleList {
    std::vector<Name> values;
    // Membership is asked of the container itself (it is neither a list nor a
    // tuple); `container` is the adapter's token for it.
    bool asks_container = false;
    std::uint32_t container = kNoToken;
};

// Where the four lists live.
class RuleStore {
public:
    virtual ~RuleStore() = default;
    // Reads one list now (the getter).
    virtual RuleList fetch(RuleKind which) = 0;
    // Writes one list (the setter) with these values.
    virtual void store(RuleKind which, const std::vector<Name>& values) = 0;
};

// `name in list` for one list read once: text values are looked up in a set,
// others compared one by one as the interpreter's `in` compares.
class RuleSet {
public:
    RuleSet(RuleList list, NameOracle& oracle);
    bool contains(const Name& name) const;
    const RuleList& list() const { return list_; }
    // The text of every value when all are text.
    bool all_text() const { return all_text_; }

private:
    RuleList list_;
    NameOracle* oracle_;
    TextMap<bool> texts_;
    std::vector<std::size_t> others_;  // positions of the values that are not text
    bool all_text_ = true;
};

// `name in list` without building a set (one question per read list).
bool list_contains(const RuleList& list, const Name& name, NameOracle& oracle);

// `dedupe_list(values)`: first occurrences, in order, with set semantics.
std::vector<Name> deduplicated(const std::vector<Name>& values, NameOracle& oracle);

// `normalize_selection_conflicts()`: duplicates go; a value in both lists of
// a pair stays only on the dendrify side; all four lists are written back.
void normalize(RuleStore& store, NameOracle& oracle);

// `get_id_mode` / `get_name_mode`: the dendrify list first, the track list
// only when the name is not there.
Mode id_mode(RuleStore& store, const Name& id, NameOracle& oracle);
Mode name_mode(RuleStore& store, const Name& type_name, NameOracle& oracle);

// How a mode argument compares with the two mode words.
enum class ModeArgument : std::uint8_t { Dendrified, Tracked, Other };

// `set_module_id_mode` / `set_module_name_mode`: sets the rule, or takes it
// off when it is already there with that mode; setting one mode takes the
// name off the other list. Both lists are written back, dendrify first.
void set_id_mode(RuleStore& store, const Name& id, ModeArgument mode, NameOracle& oracle);
void set_name_mode(RuleStore& store, const Name& type_name, ModeArgument mode, NameOracle& oracle);

// `clear_module_mode(entry)`: the id rule of a module, or else the rule on its class.
enum class Cleared : std::uint8_t { Id, Type, Nothing };
Cleared clear_rules(RuleStore& store, const Name& id, const Name& type_name, NameOracle& oracle);
// The status text of a clear, for names the core shows ("cleared .a",
// "cleared the Linear type rule", "nothing to clear on this module").
std::u32string cleared_text(Cleared what, const std::u32string& shown_name);

}  // namespace nvx::model
