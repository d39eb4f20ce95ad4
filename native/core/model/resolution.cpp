#include "resolution.hpp"

#include <string>
#include <utility>

#include "flat_map.hpp"
#include "module_ids.hpp"

namespace nvx::model {
namespace {

// The mode one pair of rule lists gives a name.
Mode mode_from(const RuleSet& dendrify, const RuleSet& track, const Name& name) {
    if (dendrify.contains(name)) return Mode::Dendrified;
    if (track.contains(name)) return Mode::Tracked;
    return Mode::None;
}

// Parent rows from text ids. In pre-order the parent is on the chain of
// ancestors of the previous row, so a stack answers almost every lookup
// without hashing; a table of every earlier id is built only when a parent is
// not on that chain (rows out of order, ids with dots of their own). Along the
// chain each id is a strict prefix of the next, so no id is on it twice and
// the row found there is the latest one with that id.
std::vector<int> parents_of_text_ids(const ModuleTable& table) {
    std::vector<int> parents(table.size(), -1);
    std::vector<std::pair<std::string_view, int>> chain;
    std::unique_ptr<TextMap<int>> earlier;
    std::string scratch;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const std::string_view id = table.ids.values[i].text;
        if (auto parent = parent_id(id, scratch)) {
            while (!chain.empty() && chain.back().first != *parent) chain.pop_back();
            if (!chain.empty()) {
                parents[i] = chain.back().second;
            } else {
                if (!earlier) {
                    earlier = std::make_unique<TextMap<int>>(table.size());
                    for (std::size_t j = 0; j < i; ++j)
                        earlier->assign(table.ids.values[j].text, static_cast<int>(j));
                }
                if (const int* found = earlier->find(*parent)) parents[i] = *found;
            }
        } else {
            chain.clear();
        }
        if (earlier) earlier->assign(id, static_cast<int>(i));
        chain.emplace_back(id, static_cast<int>(i));
    }
    return parents;
}

}  // namespace

RuleSets read_rule_sets(RuleStore& store, NameOracle& oracle) {
    RuleSets sets;
    for (const RuleKind kind :
         {RuleKind::IdsToDendrify, RuleKind::IdsToTrack, RuleKind::NamesToDendrify, RuleKind::NamesToTrack}) {
        sets[static_cast<std::size_t>(kind)] = std::make_unique<RuleSet>(store.fetch(kind), oracle);
    }
    return sets;
}

void Resolver::require_ids() const {
    for (std::size_t i = 0; i < table_->size(); ++i) table_->id(i);
}

const std::vector<int>& Resolver::parents() {
    if (!parents_known_) {
        require_ids();
        parents_ = table_->parents ? *table_->parents : parents_of_text_ids(*table_);
        parents_known_ = true;
    }
    return parents_;
}

void Resolver::index_ids() {
    next_with_id_.assign(table_->size(), -1);
    std::unordered_map<std::string_view, int> last;
    first_with_id_.reserve(table_->size());
    last.reserve(table_->size());
    for (std::size_t i = 0; i < table_->size(); ++i) {
        const std::string_view text = table_->ids.values[i].text;
        auto [at, fresh] = last.emplace(text, static_cast<int>(i));
        if (fresh) {
            first_with_id_.emplace(text, static_cast<int>(i));
        } else {
            next_with_id_[static_cast<std::size_t>(at->second)] = static_cast<int>(i);
            at->second = static_cast<int>(i);
        }
    }
    ids_indexed_ = true;
}

void Resolver::resolve(RuleStore& store, NameOracle& oracle, Resolution& out) {
    require_ids();
    if (table_->size() == 0) {
        out = Resolution{};
        return;
    }
    resolve(read_rule_sets(store, oracle), out);
}

void Resolver::resolve(const RuleSets& lists, Resolution& out) {
    const std::size_t count = table_->size();
    const std::vector<int>& parent_rows = parents();
    out.eff.assign(count, Mode::None);
    out.source.assign(count, Source::None);
    out.origin.resize(count);
    out.own_mode.assign(count, Mode::None);
    out.own_source.assign(count, Source::None);
    if (count == 0) return;

    const RuleSet& ids_dendrify = *lists[0];
    const RuleSet& ids_track = *lists[1];
    const RuleSet& names_dendrify = *lists[2];
    const RuleSet& names_track = *lists[3];
    std::vector<signed char> type_known(table_->class_names.size(), 0);
    std::vector<Mode> type_mode(table_->class_names.size(), Mode::None);

    // Own id rules: asked row by row; on a table resolved again (a session's),
    // with text rules over text ids, looked up rule by rule in an index of
    // the ids instead.
    const bool text_ids = !table_->parents.has_value();
    std::vector<Mode> by_id_index;
    if (text_ids && resolutions_++ > 0 && ids_dendrify.all_text() && ids_track.all_text()) {
        if (!ids_indexed_) index_ids();
        by_id_index.assign(count, Mode::None);
        auto mark = [&](const RuleSet& set, Mode mode) {
            for (const Name& value : set.list().values) {
                auto first = first_with_id_.find(value.text);
                for (int i = first == first_with_id_.end() ? -1 : first->second; i >= 0;
                     i = next_with_id_[static_cast<std::size_t>(i)]) {
                    by_id_index[static_cast<std::size_t>(i)] = mode;
                }
            }
        };
        mark(ids_track, Mode::Tracked);
        mark(ids_dendrify, Mode::Dendrified);  // the dendrify list wins
    }

    // Text rules over text ids: one lookup per row in a table of both lists.
    std::unique_ptr<TextMap<Mode>> id_rules;
    if (by_id_index.empty() && ids_dendrify.all_text() && ids_track.all_text()) {
        const std::vector<Name>& dendrify = ids_dendrify.list().values;
        const std::vector<Name>& track = ids_track.list().values;
        id_rules = std::make_unique<TextMap<Mode>>(dendrify.size() + track.size());
        for (const Name& value : track) id_rules->assign(value.text, Mode::Tracked);
        for (const Name& value : dendrify)
            id_rules->assign(value.text, Mode::Dendrified);  // the dendrify list wins
    }
    auto own_id_mode = [&](std::size_t i) {
        if (!by_id_index.empty()) return by_id_index[i];
        const Name& id = table_->ids.values[i];
        if (id_rules && id.is_text()) {
            const Mode* found = id_rules->find(id.text);
            return found != nullptr ? *found : Mode::None;
        }
        return mode_from(ids_dendrify, ids_track, id);
    };

    for (std::size_t i = 0; i < count; ++i) {
        const Mode by_id = own_id_mode(i);
        const auto slot = static_cast<std::size_t>(table_->type_slot(i));
        if (!type_known[slot]) {
            type_mode[slot] = mode_from(names_dendrify, names_track, table_->class_names[slot]);
            type_known[slot] = 1;
        }
        const Mode by_type = type_mode[slot];
        // An id rule beats a type rule; an ancestor's mode beats both.
        const Mode own = by_id != Mode::None ? by_id : by_type;
        const Source own_source =
            by_id != Mode::None ? Source::Id : (by_type != Mode::None ? Source::Type : Source::None);
        const int parent = parent_rows[i];
        if (parent >= 0 && out.eff[static_cast<std::size_t>(parent)] != Mode::None) {
            const auto p = static_cast<std::size_t>(parent);
            out.eff[i] = out.eff[p];
            out.source[i] = Source::Inherited;
            out.origin[i] = out.origin[p];
            out.own_mode[i] = own;
            out.own_source[i] = own_source;
        } else {
            out.eff[i] = own;
            out.source[i] = own_source;
            out.origin[i] = static_cast<int>(i);
        }
    }
}

}  // namespace nvx::model
