// The model's module tree as the target model's rules read it: one row per
// module entry, in entry order, each field a typed column.
//
// An adapter fills the columns from a model or from a list of entries. Entries
// that come from outside may lack a field or hold a value the rules cannot
// use (a truth value that raises, a count that does not compare); the adapter
// records that per cell, and a rule reading such a cell throws FieldError at
// exactly the point where it reads it, so every rule fails where its
// definition would. The adapter maps the error back to the interpreter's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "names.hpp"

namespace nvx::model {

// The entry fields the rules read.
enum class Field : std::uint8_t {
    Id,
    TypeName,
    Module,
    Depth,
    DirectParamCount,
    IsReplacedRoot,
    ReplacedRoot,
    InReplaced,
};
inline constexpr std::size_t kFieldCount = 8;

// The key of a field in an entry ("id", "type_name", ...).
const char* field_key(Field field);

// What the adapter found in one cell: the value, no such key, or an error
// (numbered by the adapter) while reading or evaluating the value.
using CellState = std::uint32_t;
inline constexpr CellState kPresent = 0;
inline constexpr CellState kMissing = 1;
inline constexpr CellState kFailedBase = 2;  // kFailedBase + n: the adapter's error n

struct FieldError : std::exception {
    FieldError(std::size_t at, Field which, CellState what) : row(at), field(which), state(what) {}
    const char* what() const noexcept override { return "an entry field the rule reads is not there"; }
    bool missing() const { return state == kMissing; }
    std::uint32_t error() const { return state - kFailedBase; }

    std::size_t row;
    Field field;
    CellState state;
};

// One field of every row. `states` is empty while every cell is present.
template <typename T>
struct Column {
    // Truth values are kept one byte each (a vector<bool> hands out no references).
    using Stored = std::conditional_t<std::is_same_v<T, bool>, unsigned char, T>;
    std::vector<Stored> values;
    std::vector<CellState> states;
    bool loaded = false;

    bool present(std::size_t row) const { return states.empty() || states[row] == kPresent; }
    // The value, or FieldError for a cell that is not present.
    const Stored& at(std::size_t row, Field field) const {
        if (!present(row)) throw FieldError(row, field, states[row]);
        return values[row];
    }
    void set_state(std::size_t row, CellState state) {
        if (state == kPresent && states.empty()) return;
        if (states.empty()) states.assign(values.size(), kPresent);
        states[row] = state;
    }
};

// A parameter count as an entry holds it.
struct Count {
    std::int64_t value = 0;
    // False when the count is not a machine integer: the table's
    // `count_texts` then holds its compact form as the adapter computed it.
    bool machine = true;
};

// The distinct own parameters of every row's module, as
// `named_parameters(recurse=False)` yields them, and `numel()` of each.
struct Parameters {
    // Row r holds members[offsets[r] .. offsets[r + 1]); each parameter once per row.
    std::vector<std::uint32_t> offsets{0};
    std::vector<std::uint32_t> members;
    std::vector<std::int64_t> numel;  // per distinct parameter (a tensor is one parameter)
};

// A class of the model with the names of its base classes (not itself, not
// `object`, not torch's Module), for the type rules that nearly match.
struct ClassUse {
    int type_slot = -1;
    std::size_t count = 0;  // entries of this class
    std::vector<Name> base_names;
};

// Parameters the model object holds itself, by name, with the parameter each
// one is (an index into Parameters::numel, shared with the rows that hold it).
struct ModelParameters {
    std::vector<std::u32string> names;
    std::vector<std::uint32_t> parameters;
};

class ModuleTable {
public:
    explicit ModuleTable(std::size_t rows = 0) : rows_(rows) {}
    std::size_t size() const { return rows_; }

    // The id of every row.
    Column<Name> ids;
    // The class name of every row, as a slot into `class_names` (one per distinct name).
    Column<int> type_slots;
    std::vector<Name> class_names;
    // How many times "  " is repeated before the row's id: its depth.
    Column<std::int64_t> indents;
    // "direct_param_count": its value, and whether it is greater than 0.
    Column<Count> own_counts;
    Column<bool> owns_parameters;
    // The compact form of counts that are not machine integers, by row.
    std::unordered_map<std::size_t, std::u32string> count_texts;
    Column<bool> is_replaced_root;
    Column<bool> in_replaced;
    Column<Name> replaced_roots;  // Kind::None outside restructured modules
    // The module's parameters; the Module column's states say which rows
    // have no module or one whose parameters could not be read.
    Column<bool> modules;
    Parameters parameters;
    // Per row, the row of its parent id (the latest earlier row with that id),
    // -1 for none. Set by the adapter when some id is not text; computed from
    // the ids otherwise (see parents.hpp).
    std::optional<std::vector<int>> parents;

    // Filled by the adapter that read a model (not an entry list).
    std::vector<ClassUse> class_uses;
    bool classes_known = false;
    std::optional<ModelParameters> model_parameters;

    // Checked reads, throwing FieldError where a cell is not there.
    const Name& id(std::size_t row) const { return ids.at(row, Field::Id); }
    int type_slot(std::size_t row) const { return type_slots.at(row, Field::TypeName); }
    const Name& type_name(std::size_t row) const {
        return class_names[static_cast<std::size_t>(type_slot(row))];
    }
    bool inside_replaced(std::size_t row) const { return in_replaced.at(row, Field::InReplaced); }
    bool replaced_root(std::size_t row) const { return is_replaced_root.at(row, Field::IsReplacedRoot); }
    bool owns(std::size_t row) const { return owns_parameters.at(row, Field::DirectParamCount); }
    // The row's own parameters (FieldError when its module cannot be read).
    std::pair<const std::uint32_t*, const std::uint32_t*> own_parameters(std::size_t row) const;

private:
    std::size_t rows_;
};

}  // namespace nvx::model
