// Interpreter objects as the core's settings values and names, and back. A
// value keeps its object behind its handle, so handing it back gives the very
// object; a value the core made is turned into the object it stands for.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "core/settings/value.hpp"

namespace nvx::configure {
namespace py = pybind11;

// The kind and truth of `object` with the interpreter's type tests; a list's
// elements become values too. No text is asked for: that happens when shown.
settings::Value to_value(const py::handle& object);
// The elements of any iterable, as `list(items)` takes them.
std::vector<settings::Value> to_values(const py::handle& items);
py::object to_object(const settings::Value& value);

// A name with its text, str(object).
settings::Name to_name(const py::handle& object);
py::object to_object(const settings::Name& name);

// A new list of texts.
py::list to_text_list(const std::vector<std::u32string>& texts);

}  // namespace nvx::configure
