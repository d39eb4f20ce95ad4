#include "module_search.hpp"

#include <cstring>

namespace nvx::model {
namespace {

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xc0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xe0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    }
}

}  // namespace

std::string casefold_latin1(const std::u32string& text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t c : text) {
        if ((c >= U'A' && c <= U'Z') || (c >= 0xc0 && c <= 0xde && c != 0xd7)) {
            c += 0x20;
        } else if (c == 0xdf) {  // sharp s folds to "ss"
            out += "ss";
            continue;
        } else if (c == 0xb5) {  // micro sign folds to Greek small mu
            c = 0x3bc;
        }
        append_utf8(out, c);
    }
    return out;
}

ModuleSearch::ModuleSearch(std::size_t rows,
                           const std::function<std::pair<std::string, std::string>(std::size_t)>& folded) {
    starts_.reserve(rows + 1);
    for (std::size_t row = 0; row < rows; ++row) {
        starts_.push_back(static_cast<std::uint32_t>(haystack_.size()));
        const auto [id, type_name] = folded(row);
        haystack_ += id;
        haystack_ += '\0';
        haystack_ += type_name;
        haystack_ += '\0';
    }
    starts_.push_back(static_cast<std::uint32_t>(haystack_.size()));
}

bool ModuleSearch::row_contains(std::size_t row, const std::string& needle) const {
    const char* begin = haystack_.data() + starts_[row];
    const std::size_t length = starts_[row + 1] - starts_[row];
    return memmem(begin, length, needle.data(), needle.size()) != nullptr;
}

const std::vector<int>& ModuleSearch::matches(const std::u32string& text) {
    if (text.empty()) return none_;
    const std::string needle = casefold_latin1(text);
    while (!narrowing_.empty() &&
           needle.compare(0, narrowing_.back().first.size(), narrowing_.back().first) != 0) {
        narrowing_.pop_back();
    }
    if (!narrowing_.empty() && narrowing_.back().first == needle) return narrowing_.back().second;

    std::vector<int> found;
    if (!narrowing_.empty()) {
        for (const int row : narrowing_.back().second) {
            if (row_contains(static_cast<std::size_t>(row), needle)) found.push_back(row);
        }
    } else {
        // One pass over all names: each hit names its row, and the scan goes
        // on at the next row.
        const char* const base = haystack_.data();
        std::size_t row = 0;
        std::size_t offset = 0;
        while (offset < haystack_.size()) {
            const void* hit = memmem(base + offset, haystack_.size() - offset, needle.data(), needle.size());
            if (hit == nullptr) break;
            const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - base);
            while (starts_[row + 1] <= at) ++row;
            found.push_back(static_cast<int>(row));
            offset = starts_[++row];
        }
    }
    narrowing_.emplace_back(needle, std::move(found));
    return narrowing_.back().second;
}

}  // namespace nvx::model
