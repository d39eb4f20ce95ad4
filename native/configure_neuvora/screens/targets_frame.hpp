// The Targets screen of one session pass drawn from the session's entry table:
// the same header, body and footer as `render_targets_lines`, with the body
// rendered line by line on demand, so only the rows the scrolling window looks
// at are built.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "configure_neuvora/target_model/entry_table.hpp"
#include "core/layout/screen_layout.hpp"

namespace nvx::configure {
namespace py = pybind11;

// Header lines of the Targets screen for `need` modules without a mode and
// `type_rules` type rules; `all_reached` is false while the model itself holds
// parameters no rule reaches.
py::list targets_header_lines(std::size_t need, std::size_t type_rules, bool all_reached);

// Footer lines around the budget line, with the notes on shared tensors in
// conflict and on the model's own parameters under `resolution`.
py::list targets_footer_lines(const py::object& budget_line, target::EntryTable& table,
                              const target::Resolution& resolution);

// One text per pair of rows that hold the same tensors with the modes of
// `resolved` differing ("<row> shares a weight with <owner>: ..."), in tree
// order; `tensors` is set to the number of tensors in conflict.
std::vector<std::u32string> shared_conflict_texts(target::EntryTable& table, const py::handle& resolved,
                                                  std::size_t& tensors);

// The body of `render_targets_lines(entries, visible, selected, resolved,
// expanded_replaced)` for the rows at `visible` (table positions), one line at a
// time; rows whose id is in `override_marked` (a set) carry the override mark.
class TargetsBody {
public:
    TargetsBody(target::EntryTable& table, const target::Resolution& resolution, std::vector<int> visible,
                Py_ssize_t selected, py::object expanded_replaced, py::object override_marked);
    ~TargetsBody();
    TargetsBody(const TargetsBody&) = delete;
    TargetsBody& operator=(const TargetsBody&) = delete;

    long long line_count() const { return lines_; }
    // Lines of the selected row; (0, 1) when no row is selected.
    layout::Focus focus() const;
    // Body line `index`, rendered at first use.
    const std::u32string& line(long long index);

private:
    struct Painter;
    long long line_of(std::size_t position) const;

    target::EntryTable& table_;
    const target::Resolution& resolution_;
    std::vector<int> visible_;
    Py_ssize_t selected_;
    py::object expanded_replaced_;
    py::object override_marked_;
    long long lines_;
    std::vector<long long> first_line_;  // first body line of each row (empty: one line per row)
    std::unordered_map<std::size_t, std::vector<std::u32string>> rendered_;
    std::unique_ptr<Painter> painter_;
    std::size_t painting_ = 0;
};

}  // namespace nvx::configure
