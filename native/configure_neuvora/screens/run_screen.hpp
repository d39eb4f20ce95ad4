// The Run settings screen: the list of run items (bucket rows, tier-sorted
// setting rows, dividers) and the lines drawn for it.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace nvx::configure {
namespace py = pybind11;

// Pure line building over code points. `selected` draws the near-white "> "
// pointer instead of two blanks.
namespace run_lines {

enum class Hint { kNone, kCycles, kToggles };

std::u32string title();
std::u32string bucket(bool selected, bool expanded, const std::u32string& name, const std::u32string& count);
std::u32string divider();
std::u32string setting(bool selected, const std::u32string& name, const std::u32string& value_text,
                       Hint hint);
std::u32string key_hints();
std::u32string describe(const std::u32string& name, const std::u32string& help_text);

}  // namespace run_lines

// `build_run_items(expanded_buckets)`.
py::list build_run_items(const py::handle& expanded_buckets);

// `render_run_settings_lines(items, selected_index, describe_name)`:
// (header, body, footer, (selected_index, selected_index + 1)).
py::tuple render_run_settings_lines(const py::handle& items, const py::handle& selected_index,
                                    const py::handle& describe_name);

}  // namespace nvx::configure
