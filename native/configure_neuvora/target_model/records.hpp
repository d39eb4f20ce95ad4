// Resolved-mode records: the map `resolve_entry_modes` returns, built from a
// resolution, and the records a caller hands in, read where a rule reads them.
#pragma once

#include <pybind11/pybind11.h>

#include "core/model/resolution.hpp"
#include "entry_reader.hpp"

namespace nvx::target {
namespace py = pybind11;

// Row `row`'s record as a dict ("eff", "source", "origin_id", "overridden").
py::object record_of(const EntryReader& reader, const model::Resolution& resolution, std::size_t row);
// Every row's record, keyed by id in row order.
py::object record_map(const EntryReader& reader, const model::Resolution& resolution);

// `resolved[entry["id"]]` for row `row` (its id read first).
py::object record_in(const py::handle& resolved, const EntryReader& reader, std::size_t row);
// `resolved[entry["id"]]["eff"]`.
py::object eff_in(const py::handle& resolved, const EntryReader& reader, std::size_t row);

// `value == word` for a mode or source word, comparing plain text as text.
bool is_word(const py::handle& value, PyObject* word);
// The mode an "eff" value is equal to (None for any other value).
model::Mode mode_of(const py::handle& eff);
// The mode word as an interned str, or None.
py::object mode_object(model::Mode mode);
// The source word ("inherited", "id", "type") as an interned str, or None.
py::object source_object(model::Source source);

}  // namespace nvx::target
