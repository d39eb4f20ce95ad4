#include "module_search.hpp"

#include <algorithm>
#include <cstring>

#include "common/interp.hpp"

namespace nvx::target {

ModuleSearch::ModuleSearch(const EntryTable& table) : table_(&table) {
    starts_.reserve(table.size() + 1);
    for (std::size_t i = 0; i < table.size(); ++i) {
        starts_.push_back(static_cast<std::uint32_t>(haystack_.size()));
        for (const Field field : {Field::Id, Field::TypeName}) {
            if (const py::handle value = table.field_if_present(i, field)) haystack_ += folded(value);
            haystack_ += '\0';
        }
    }
    starts_.push_back(static_cast<std::uint32_t>(haystack_.size()));
}

std::string ModuleSearch::folded(const py::handle& text) {
    py::object as_text =
        PyUnicode_Check(text.ptr()) ? py::reinterpret_borrow<py::object>(text) : py::str(text);
    py::object folded_text = as_text.attr("casefold")();
    Py_ssize_t size = 0;
    const char* bytes = PyUnicode_AsUTF8AndSize(folded_text.ptr(), &size);
    if (bytes == nullptr) {
        // Lone surrogates have no UTF-8 form; such a name matches nothing.
        PyErr_Clear();
        return {};
    }
    return std::string(bytes, static_cast<std::size_t>(size));
}

bool ModuleSearch::entry_contains(std::size_t position, const std::string& needle) const {
    const char* begin = haystack_.data() + starts_[position];
    const std::size_t length = starts_[position + 1] - starts_[position];
    return memmem(begin, length, needle.data(), needle.size()) != nullptr;
}

const std::vector<int>& ModuleSearch::matches(const std::u32string& text) {
    if (text.empty()) return none_;
    const std::string needle = folded(from_u32(text));
    if (needle.empty()) return none_;
    while (!narrowing_.empty() &&
           needle.compare(0, narrowing_.back().first.size(), narrowing_.back().first) != 0) {
        narrowing_.pop_back();
    }
    if (!narrowing_.empty() && narrowing_.back().first == needle) return narrowing_.back().second;

    std::vector<int> found;
    if (!narrowing_.empty()) {
        for (const int position : narrowing_.back().second) {
            if (entry_contains(static_cast<std::size_t>(position), needle)) found.push_back(position);
        }
    } else {
        // One pass over all names: each hit names its entry, and the scan goes
        // on at the next entry.
        const char* const base = haystack_.data();
        std::size_t entry = 0;
        std::size_t offset = 0;
        while (offset < haystack_.size()) {
            const void* hit = memmem(base + offset, haystack_.size() - offset, needle.data(), needle.size());
            if (hit == nullptr) break;
            const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - base);
            while (starts_[entry + 1] <= at) ++entry;
            found.push_back(static_cast<int>(entry));
            offset = starts_[++entry];
        }
    }
    narrowing_.emplace_back(needle, std::move(found));
    return narrowing_.back().second;
}

}  // namespace nvx::target
