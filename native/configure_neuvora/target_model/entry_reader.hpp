// A list of module entries read into the target model's table.
//
// Fields are read column by column, when a rule first needs them, without
// interpreter code for plain dicts and plain values. What the interpreter
// would decide about a value (its truth, whether a count is above 0, the text
// of an opaque name) is decided here once; a missing key, or a value whose
// evaluation raised, is kept as that cell's state, and `raise` turns the
// model's FieldError for it into the interpreter's error: KeyError with the
// key, or the exception the evaluation raised.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <initializer_list>
#include <vector>

#include "core/model/flat_map.hpp"
#include "core/model/module_table.hpp"
#include "py_names.hpp"

namespace nvx::target {
namespace py = pybind11;

class EntryReader {
public:
    // `entries`: any iterable of entries (a list is read as it is).
    explicit EntryReader(const py::handle& entries);
    EntryReader(const EntryReader&) = delete;
    EntryReader& operator=(const EntryReader&) = delete;

    model::ModuleTable& table() { return table_; }
    const model::ModuleTable& table() const { return table_; }
    ObjectPool& pool() { return pool_; }
    PyOracle& oracle() { return oracle_; }
    std::size_t size() const { return table_.size(); }

    // One entry of the list read.
    py::handle entry(std::size_t row) const { return entry_objects_[row]; }
    // The id object of a row (null when it has none); the Id column must be loaded.
    const py::object& id_object(std::size_t row) const { return id_objects_[row]; }

    // Reads the given fields of every entry (those not read yet).
    void load(std::initializer_list<model::Field> fields);
    // The parent row of every row when some id is not text (the rows' ids as
    // `get_parent_module_id` and dict keys see them); nothing otherwise.
    void load_parents();
    // The own parameters of every row's module (the Module column).
    void load_parameters();
    // The classes of the rows' modules with their base classes' names.
    void load_class_uses();
    // The parameters `model` holds itself, by name (after load_parameters).
    void load_model_parameters(const py::handle& model);

    // The interpreter's error for a cell the model could not read.
    [[noreturn]] void raise(const model::FieldError& error) const;
    // Runs `body`, turning the model's FieldError into the interpreter's error.
    template <typename Body>
    auto run(const Body& body) const -> decltype(body()) {
        try {
            return body();
        } catch (const model::FieldError& error) {
            raise(error);
        }
    }

private:
    void load_field(model::Field field);
    // Keeps an error raised while evaluating a value; returns its cell state.
    model::CellState keep_error(py::error_already_set& error);

    py::object entries_;
    std::vector<PyObject*> entry_objects_;  // held by `entries_`
    model::ModuleTable table_;
    ObjectPool pool_;
    PyOracle oracle_;
    std::vector<py::object> id_objects_;
    std::vector<py::object> held_;  // values handed out by entries that are not plain dicts
    std::vector<py::error_already_set> errors_;
    std::vector<py::object> parameters_alive_;               // identities stay unique while they live
    model::IdentityMap<std::uint32_t> index_of_parameters_;  // parameter -> index into numel
    bool parents_loaded_ = false;
};

// The interned key of a field.
PyObject* field_key_object(model::Field field);

}  // namespace nvx::target
