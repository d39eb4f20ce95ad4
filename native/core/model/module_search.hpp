// Finding modules by name: every row's id and class name, case-folded once,
// searched for a piece of typed text. Typing one more character only narrows
// the rows that matched before, so each key of a search costs the matches so
// far, not the model.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace nvx::model {

class ModuleSearch {
public:
    // `folded(row)` gives the row's id and class name, case-folded, in UTF-8
    // (empty for one the row lacks).
    ModuleSearch(std::size_t rows,
                 const std::function<std::pair<std::string, std::string>(std::size_t)>& folded);

    // Rows, in order, whose id or class name contains `text` ignoring case;
    // empty for an empty text. The text is key input: Latin-1 code points.
    const std::vector<int>& matches(const std::u32string& text);

private:
    bool row_contains(std::size_t row, const std::string& needle) const;

    // Per row: folded id, "\0", folded class name, "\0"; starts_[i] is where
    // row i begins and starts_.back() the end.
    std::string haystack_;
    std::vector<std::uint32_t> starts_;
    // The matches of the last searched texts, each one a prefix of the next.
    std::vector<std::pair<std::string, std::vector<int>>> narrowing_;
    std::vector<int> none_;
};

// `text.casefold()` for Latin-1 text, in UTF-8 (other code points are kept).
std::string casefold_latin1(const std::u32string& text);

}  // namespace nvx::model
