#include "rule_lists.hpp"

#include <algorithm>
#include <utility>

namespace nvx::model {
namespace {

// `[value for value in values if value != unwanted]`.
std::vector<Name> without(const std::vector<Name>& values, const Name& unwanted, NameOracle& oracle) {
    std::vector<Name> kept;
    kept.reserve(values.size());
    for (const Name& value : values) {
        if (differ(value, unwanted, oracle)) kept.push_back(value);
    }
    return kept;
}

bool has(const std::vector<Name>& values, const Name& name, NameOracle& oracle) {
    return std::any_of(values.begin(), values.end(),
                       [&](const Name& value) { return equal(value, name, oracle); });
}

// The values of `keep_from` that are not keys of the set made of `other`.
std::vector<Name> without_overlap(const std::vector<Name>& keep_from, const std::vector<Name>& other,
                                  NameOracle& oracle) {
    std::vector<Name> kept;
    const RuleSet other_set(RuleList{other, false, kNoToken}, oracle);
    for (const Name& value : keep_from) {
        bool shared = false;
        if (value.is_text() && other_set.all_text()) {
            shared = other_set.contains(value);
        } else {
            for (const Name& candidate : other) shared = shared || same_key(candidate, value, oracle);
        }
        if (!shared) kept.push_back(value);
    }
    return kept;
}

Mode mode_on(RuleStore& store, RuleKind dendrify, RuleKind track, const Name& name, NameOracle& oracle) {
    if (list_contains(store.fetch(dendrify), name, oracle)) return Mode::Dendrified;
    if (list_contains(store.fetch(track), name, oracle)) return Mode::Tracked;
    return Mode::None;
}

void set_mode_on(RuleStore& store, RuleKind dendrify_kind, RuleKind track_kind, const Name& name,
                 ModeArgument mode, NameOracle& oracle) {
    std::vector<Name> dendrify = deduplicated(store.fetch(dendrify_kind).values, oracle);
    std::vector<Name> track = deduplicated(store.fetch(track_kind).values, oracle);
    auto toggle = [&](std::vector<Name>& chosen, std::vector<Name>& other) {
        if (has(chosen, name, oracle)) {
            chosen = without(chosen, name, oracle);  // the same mode again takes the rule off
            return;
        }
        chosen.push_back(name);
        other = without(other, name, oracle);
    };
    if (mode == ModeArgument::Dendrified) {
        toggle(dendrify, track);
    } else if (mode == ModeArgument::Tracked) {
        toggle(track, dendrify);
    }
    store.store(dendrify_kind, dendrify);
    store.store(track_kind, track);
}

}  // namespace

const char* mode_text(Mode mode) {
    switch (mode) {
        case Mode::Dendrified:
            return "dendrified";
        case Mode::Tracked:
            return "tracked";
        case Mode::None:
            break;
    }
    return nullptr;
}

std::u32string_view mode_verb(Mode mode) {
    switch (mode) {
        case Mode::Dendrified:
            return U"dendrify";
        case Mode::Tracked:
            return U"track";
        case Mode::None:
            break;
    }
    return U"None";
}

RuleSet::RuleSet(RuleList list, NameOracle& oracle) : list_(std::move(list)), oracle_(&oracle) {
    if (list_.asks_container) {
        all_text_ = false;
        return;
    }
    texts_ = TextMap<bool>(list_.values.size());
    for (std::size_t i = 0; i < list_.values.size(); ++i) {
        const Name& value = list_.values[i];
        if (value.is_text()) {
            texts_.insert(value.text, true);
        } else {
            others_.push_back(i);
            all_text_ = false;
        }
    }
}

bool RuleSet::contains(const Name& name) const {
    if (list_.asks_container) return oracle_->contains(list_.container, name);
    if (name.is_text()) {
        if (texts_.find(name.text) != nullptr) return true;
        for (const std::size_t position : others_) {
            if (equal(list_.values[position], name, *oracle_)) return true;
        }
        return false;
    }
    return has(list_.values, name, *oracle_);
}

bool list_contains(const RuleList& list, const Name& name, NameOracle& oracle) {
    if (list.asks_container) return oracle.contains(list.container, name);
    return has(list.values, name, oracle);
}

std::vector<Name> deduplicated(const std::vector<Name>& values, NameOracle& oracle) {
    std::vector<Name> kept;
    kept.reserve(values.size());
    const bool all_text =
        std::all_of(values.begin(), values.end(), [](const Name& v) { return v.is_text(); });
    if (all_text) {
        TextMap<bool> seen(values.size());
        for (const Name& value : values) {
            if (seen.insert(value.text, true).second) kept.push_back(value);
        }
        return kept;
    }
    // With the interpreter's set: each value hashed, then compared with the
    // values of equal hash seen before.
    std::vector<std::int64_t> hashes;
    for (const Name& value : values) {
        const std::int64_t hash = oracle.hash(value);
        bool seen = false;
        for (std::size_t k = 0; k < kept.size() && !seen; ++k) {
            seen = hashes[k] == hash && equal(kept[k], value, oracle);
        }
        if (seen) continue;
        kept.push_back(value);
        hashes.push_back(hash);
    }
    return kept;
}

void normalize(RuleStore& store, NameOracle& oracle) {
    std::vector<Name> ids_dendrify = deduplicated(store.fetch(RuleKind::IdsToDendrify).values, oracle);
    std::vector<Name> ids_track = deduplicated(store.fetch(RuleKind::IdsToTrack).values, oracle);
    std::vector<Name> names_dendrify = deduplicated(store.fetch(RuleKind::NamesToDendrify).values, oracle);
    std::vector<Name> names_track = deduplicated(store.fetch(RuleKind::NamesToTrack).values, oracle);
    // A value on both sides stays dendrified.
    ids_track = without_overlap(ids_track, ids_dendrify, oracle);
    names_track = without_overlap(names_track, names_dendrify, oracle);
    store.store(RuleKind::IdsToDendrify, ids_dendrify);
    store.store(RuleKind::IdsToTrack, ids_track);
    store.store(RuleKind::NamesToDendrify, names_dendrify);
    store.store(RuleKind::NamesToTrack, names_track);
}

Mode id_mode(RuleStore& store, const Name& id, NameOracle& oracle) {
    return mode_on(store, RuleKind::IdsToDendrify, RuleKind::IdsToTrack, id, oracle);
}

Mode name_mode(RuleStore& store, const Name& type_name, NameOracle& oracle) {
    return mode_on(store, RuleKind::NamesToDendrify, RuleKind::NamesToTrack, type_name, oracle);
}

void set_id_mode(RuleStore& store, const Name& id, ModeArgument mode, NameOracle& oracle) {
    set_mode_on(store, RuleKind::IdsToDendrify, RuleKind::IdsToTrack, id, mode, oracle);
}

void set_name_mode(RuleStore& store, const Name& type_name, ModeArgument mode, NameOracle& oracle) {
    set_mode_on(store, RuleKind::NamesToDendrify, RuleKind::NamesToTrack, type_name, mode, oracle);
}

Cleared clear_rules(RuleStore& store, const Name& id, const Name& type_name, NameOracle& oracle) {
    const std::vector<Name> ids_dendrify = without(store.fetch(RuleKind::IdsToDendrify).values, id, oracle);
    const std::vector<Name> ids_track = without(store.fetch(RuleKind::IdsToTrack).values, id, oracle);
    if (list_contains(store.fetch(RuleKind::IdsToDendrify), id, oracle) ||
        list_contains(store.fetch(RuleKind::IdsToTrack), id, oracle)) {
        store.store(RuleKind::IdsToDendrify, ids_dendrify);
        store.store(RuleKind::IdsToTrack, ids_track);
        return Cleared::Id;
    }
    if (list_contains(store.fetch(RuleKind::NamesToDendrify), type_name, oracle) ||
        list_contains(store.fetch(RuleKind::NamesToTrack), type_name, oracle)) {
        store.store(RuleKind::NamesToDendrify,
                    without(store.fetch(RuleKind::NamesToDendrify).values, type_name, oracle));
        store.store(RuleKind::NamesToTrack,
                    without(store.fetch(RuleKind::NamesToTrack).values, type_name, oracle));
        return Cleared::Type;
    }
    return Cleared::Nothing;
}

std::u32string cleared_text(Cleared what, const std::u32string& shown_name) {
    switch (what) {
        case Cleared::Id:
            return U"cleared " + shown_name;
        case Cleared::Type:
            return U"cleared the " + shown_name + U" type rule";
        case Cleared::Nothing:
            break;
    }
    return U"nothing to clear on this module";
}

}  // namespace nvx::model
