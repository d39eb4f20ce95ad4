// The target model's engine: one table over a list of module entries, and every
// rule of the Targets screen computed on it: each entry's effective mode from
// the rule lists, the visible rows, the rows that still need a mode, the budget
// sums, the children of a restructured module and the live type-rule counts.
//
// The module's public functions build a table for the entries they are given
// (or reuse the session's, see `for_entries`); the session builds one per
// session, since its entries never change once built. Everything a user can
// change (the rule lists, the expanded roots, the resolved records handed in)
// is read again on every call.
//
// Each entry field is read once, for all entries, when a rule first needs it,
// without running interpreter code for plain dicts.
// A missing field is remembered as missing and raises the interpreter's
// KeyError at the point where the rule reads it, so every rule fails exactly
// where its definition would.
#pragma once

#include <pybind11/pybind11.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "budget.hpp"
#include "core/model/flat_map.hpp"

namespace nvx::target {
namespace py = pybind11;

enum class Mode : std::uint8_t { None, Dendrified, Tracked };
enum class Source : std::uint8_t { None, Inherited, Id, Type };

// One resolution of every entry: what `resolve_entry_modes` returns, without
// the dictionaries.
struct Resolution {
    std::vector<Mode> eff;
    std::vector<Source> source;
    std::vector<int> origin;     // index of the entry whose id is the origin
    std::vector<Mode> own_mode;  // the ignored own rule of an inherited mode
    std::vector<Source> own_source;
};

// Rows that own one parameter tensor but give it different modes: `row` holds
// `tensors` tensors whose first holder is the earlier row `owner`.
struct SharedConflict {
    std::size_t row = 0;
    std::size_t owner = 0;
    Mode row_mode = Mode::None;
    Mode owner_mode = Mode::None;
    std::size_t tensors = 0;
};
struct SharedConflicts {
    std::vector<SharedConflict> pairs;  // in tree order of `row`, then of `owner`
    std::size_t tensors = 0;            // distinct tensors in conflict
};

// Parameters the model object holds itself that no entry holds: no rule reaches them.
struct UnreachedParameters {
    std::vector<py::object> names;  // every such parameter's name, in order
    Sum elements;                   // their `numel()` summed
};

// A class present in the model that a type rule misses: its name differs from
// the rule's while one of its base classes is named like the rule.
struct NearMiss {
    py::object type_name;
    std::size_t count = 0;  // entries of that class name
};
struct TypeRuleHints {
    bool matches_nothing = false;  // no entry at all has the rule's class name
    std::vector<NearMiss> near_misses;
};

// The entry fields the rules read, in the order they are read from each entry.
enum class Field { Id, TypeName, Module, DirectParamCount, IsReplacedRoot, InReplaced, ReplacedRoot, Count };

class EntryTable {
public:
    enum class Known : std::uint8_t { Ask, No, Yes };

    struct Row {
        py::object entry;
        // Field values by `Field`, null when the entry has no such key.
        std::array<py::object, static_cast<std::size_t>(Field::Count)> fields;
        const py::object& operator[](Field which) const { return fields[static_cast<std::size_t>(which)]; }
    };

    // Reads every entry of `entries` (any iterable). Raises what iterating or
    // reading a non-dict entry raises.
    static std::unique_ptr<EntryTable> build(const py::handle& entries);

    // The table for `entries`: the running session's when `entries` is the
    // session's own list, otherwise a new one held by `scratch`.
    static EntryTable& for_entries(const py::handle& entries, std::unique_ptr<EntryTable>& scratch);

    // Makes the table held by `table` the one `for_entries` hands out for its
    // list while the lease lives (the session's, which may rebuild it).
    class Lease {
    public:
        explicit Lease(const std::unique_ptr<EntryTable>& table);
        ~Lease();
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;

    private:
        const std::unique_ptr<EntryTable>* previous_;
    };

    // True while `entries` is the list the table was built from, holding the same entries.
    bool describes(const py::handle& entries) const;

    std::size_t size() const { return rows_.size(); }
    const Row& row(std::size_t index) const { return rows_[index]; }
    const py::object& entries() const { return entries_; }

    // `entry[field]` as read at build time; raises KeyError(field) when missing.
    const py::object& field(std::size_t index, Field which) const;
    // The same, or a null handle when the entry has no such key.
    py::handle field_if_present(std::size_t index, Field which) const;
    bool truth(std::size_t index, Field which) const;
    bool owns_parameters(std::size_t index) const;  // "direct_param_count" > 0

    // Mode resolution from the four rule lists of `GNV.pc`, each read once.
    void resolve(Resolution& out);

    // The record `resolve_entry_modes` gives entry `index`, and the whole map.
    py::object record(const Resolution& resolution, std::size_t index) const;
    py::object records(const Resolution& resolution) const;

    // Positions of the rows `visible_targets()` keeps: entries inside a replaced
    // root only while `expanded_replaced.get(root, False)` is true.
    std::vector<int> visible(const py::handle& expanded_replaced) const;

    // Entries that own parameters, are neither inside nor at a replaced root,
    // and whose mode (`is_unset(index)`) is None; `visit(index)` for each, in order.
    template <typename IsUnset, typename Visit>
    void unset(const IsUnset& is_unset, const Visit& visit) const {
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            if (truth(i, Field::InReplaced) || truth(i, Field::IsReplacedRoot) || !owns_parameters(i))
                continue;
            if (is_unset(i)) visit(i);
        }
    }
    std::size_t unset_count(const Resolution& resolution) const;

    // Entries whose "replaced_root" equals `root_id`.
    std::size_t children_of(const py::handle& root_id) const;

    // `type_rule_entries(entries)`: (name, mode, live count) for the type rules,
    // and just their number (the rule lists sorted as for the full answer).
    py::list type_rules() const;
    std::size_t type_rule_count() const;
    // The live count a type rule on `type_name` has: entries of that class
    // outside replaced modules.
    std::int64_t live_count(const py::handle& type_name) const;

    // The budget line with the entries marked by `dendrified(index)` dendrified.
    // The table reads the modules' parameters once per table.
    template <typename IsDendrified>
    py::str budget_line(const IsDendrified& dendrified) {
        return parameters().line(dendrified);
    }

    // Shared parameter tensors. The analysis reads the modules' parameters once
    // per table; entries whose modules cannot be read that way (no module, not a
    // module) make it see no sharing at all, and the budget line reports them.
    //
    // The earlier row holding every own parameter of row `index` (-1: none).
    int shared_owner(std::size_t index);
    // The same for an entry object of the table's list; -1 when it is not one.
    int shared_owner_of(PyObject* entry);
    // Tensors held by rows whose modes (`mode_of(index)`) differ.
    SharedConflicts shared_conflicts(const std::function<Mode(std::size_t)>& mode_of);

    // The model the entries were built from (the session's); its own parameters
    // are then looked at for `unreached_parameters`.
    void hold_model(py::object model) { model_ = std::move(model); }
    // Null without a held model or when every parameter it holds is reached.
    const UnreachedParameters* unreached_parameters();
    // The table of the running session when `entries` is its list, else null.
    static EntryTable* session_table_for(const py::handle& entries);

    // Hints for the type rule naming `rule_name`.
    TypeRuleHints type_rule_hints(const py::handle& rule_name) const;

private:
    ParameterTable& parameters();
    // The parameter table when every entry's module can be read, else null.
    ParameterTable* readable_parameters();
    void index_classes() const;
    bool loaded(Field which) const { return (loaded_ >> static_cast<unsigned>(which)) & 1u; }
    void load(Field which) const;
    void index_parents();
    void index_ids();
    void index_types() const;
    // Entries outside replaced modules per class slot (of `type_names_`).
    std::vector<std::int64_t> live_counts_by_slot() const;

    // What every pass reads of each entry, kept small: the class slot (-1 when
    // the entry has no class name), and the truth of "in_replaced" and
    // "is_replaced_root" and whether "direct_param_count" > 0 where plain values
    // tell without asking the interpreter.
    struct Hot {
        int type_slot = -1;  // into `type_names_`
        Known in_replaced = Known::Ask, is_root = Known::Ask, owns = Known::Ask;
    };

    py::object entries_;
    // Fields are read column by column as the rules first ask for them.
    mutable std::vector<Row> rows_;
    mutable std::vector<Hot> hot_;
    mutable unsigned loaded_ = 0;  // one bit per `Field`
    mutable std::ptrdiff_t first_without_id_ = -1;
    std::vector<PyObject*> entry_objects_;  // the entries in order (held by `rows_`)
    // Per entry, the latest earlier entry whose id is its parent id (-1: none);
    // found at the first resolution.
    std::vector<int> parents_;
    bool parents_indexed_ = false;
    // With text ids: id text -> first entry with it, further ones chained.
    bool text_ids_ = false;
    bool ids_indexed_ = false;
    std::size_t resolutions_ = 0;
    TextMap<int> by_id_;
    std::vector<int> same_id_next_;
    mutable std::vector<py::object> type_names_;  // one per distinct class name
    mutable py::object root_counts_;              // replaced_root value -> entries under it, at first use
    std::unique_ptr<ParameterTable> parameters_;
    bool parameters_unreadable_ = false;
    std::unique_ptr<IdentityMap<int>> position_of_;  // entry object -> index, when sharing exists
    py::object model_;
    bool unreached_known_ = false;
    std::unique_ptr<UnreachedParameters> unreached_;
    // (class name slot, class) combinations of the entries, in order of first
    // appearance (inside replaced modules too: type rules are how those are
    // reached), with their base classes' names.
    struct ClassUse {
        int type_slot;
        std::size_t count;
        std::vector<py::object> base_names;
    };
    mutable bool classes_indexed_ = false;
    mutable std::vector<ClassUse> class_uses_;
};

}  // namespace nvx::target
