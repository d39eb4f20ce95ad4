// A native view of one session's module entries, and the per-pass work over
// it: resolving every entry's mode from the current rule lists, the visible
// rows, the count of modules that still need a mode, and the budget line.
//
// The entries of a session are built once and never change afterwards, so the
// session reads each entry dictionary once, into this table. Everything a user
// can change (the rule lists, the expanded roots) is read again on every pass;
// the modules' parameters are walked again on every pass as well.
//
// The table only takes entries it can read without running interpreter code:
// an exact list of exact dicts whose values have their usual exact types.
// For anything else `build` returns null and the session goes through the
// module's public functions.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "budget.hpp"
#include "flat_map.hpp"

namespace nvx::target {
namespace py = pybind11;

enum class Mode : std::uint8_t { None, Dendrified, Tracked };
enum class Source : std::uint8_t { None, Inherited, Id, Type };

// One pass's resolution of every entry: what `resolve_entry_modes` would
// return, without the dictionaries.
struct Resolution {
    std::vector<Mode> eff;
    std::vector<Source> source;
    std::vector<int> origin;     // index of the entry whose id is the origin
    std::vector<Mode> own_mode;  // the ignored own rule of an inherited mode
    std::vector<Source> own_source;
};

class EntryTable {
public:
    struct Row {
        py::object entry;  // the entry dict
        py::object id;     // exact str
        py::object module;
        std::string_view id_text;  // UTF-8 of the id (owned by `id`)
        int parent = -1;           // latest earlier entry whose id is the parent id
        int type_index = 0;        // into `type_names_`
        int root = -1;             // into `roots_`: the entry's "replaced_root", -1 for None
        bool in_replaced = false;
        bool is_replaced_root = false;
        bool owns_parameters = false;  // "direct_param_count" > 0
    };

    // Null when the entries are not plain (see above). Raises what reading them raises.
    static std::unique_ptr<EntryTable> build(const py::handle& entries);

    // True while `entries` is the list the table was built from, unchanged in length.
    bool describes(const py::handle& entries) const;

    std::size_t size() const { return rows_.size(); }
    const Row& row(std::size_t index) const { return rows_[index]; }

    // Resolves every entry from the four rule lists of `GNV.pc`, each read once
    // (ids to dendrify, ids to track, names to dendrify, names to track). False
    // when a list is not a list or tuple of exact str: the caller then resolves
    // through `resolve_entry_modes`.
    bool resolve(Resolution& out) const;

    // The record `resolve_entry_modes` gives entry `index`, and the whole map.
    py::object record(const Resolution& resolution, std::size_t index) const;
    py::object records(const Resolution& resolution) const;

    // Positions of the rows `visible_targets()` keeps: entries inside a replaced
    // root only while `expanded_replaced.get(root, False)` is true.
    std::vector<int> visible(const py::handle& expanded_replaced) const;

    // `len(unset_module_entries(entries, resolved))`.
    std::size_t unset_count(const Resolution& resolution) const;

    // Entries whose "replaced_root" equals the id of entry `index`.
    std::size_t children_of(std::size_t index) const;

    // `build_budget_line(entries, resolved)`. The modules' parameters are read
    // at the first call: the session's model does not change while it runs.
    py::str budget_line(const Resolution& resolution);

private:
    py::object entries_;
    std::vector<Row> rows_;
    std::vector<py::object> type_names_;
    std::vector<py::object> roots_;  // distinct "replaced_root" values (exact str)
    std::vector<std::size_t> root_children_;
    TextMap<int> root_by_text_;
    // id text -> first entry with that id; further entries with the same id chain
    // through `same_id_next_`.
    TextMap<int> by_id_;
    std::vector<int> same_id_next_;
    TextMap<int> type_by_name_;
    std::unique_ptr<ParameterTable> parameters_;
};

}  // namespace nvx::target
