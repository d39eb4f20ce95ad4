// Finding modules by name: every entry's id and class name, case-folded once
// per table, searched for a piece of text. Typing one more character only
// narrows the modules that matched before, so each key of a search costs the
// matches so far, not the model.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "entry_table.hpp"

namespace nvx::target {
namespace py = pybind11;

class ModuleSearch {
public:
    // Reads and folds the ids and class names of `table` (values that are not
    // text are searched as their str()).
    explicit ModuleSearch(const EntryTable& table);

    bool searches(const EntryTable& table) const { return table_ == &table; }

    // Table positions, in entry order, of the entries whose id or class name
    // contains `text` ignoring case; empty for an empty text.
    const std::vector<int>& matches(const std::u32string& text);

private:
    // `text` case-folded as the interpreter folds it, in UTF-8.
    static std::string folded(const py::handle& text);
    bool entry_contains(std::size_t position, const std::string& needle) const;

    const EntryTable* table_;
    // Per entry: folded id, "\0", folded class name, "\0"; starts_[i] is where
    // entry i begins and starts_.back() the end.
    std::string haystack_;
    std::vector<std::uint32_t> starts_;
    // The matches of the last searched texts, each one a prefix of the next.
    std::vector<std::pair<std::string, std::vector<int>>> narrowing_;
    std::vector<int> none_;
};

}  // namespace nvx::target
