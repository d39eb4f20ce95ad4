// Key tests shared by the screen and overlay handlers. Predicates are called
// through the module namespace, so replacing one from Python takes effect.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "common/interp.hpp"
#include "common/module_namespace.hpp"
#include "core/keys/key_input.hpp"

namespace nvx::configure::keys {
namespace py = pybind11;

inline bool is(const py::object& key, const char* text) {
    return equals(key, py::str(text));
}

inline bool test(const char* predicate, const py::object& key) {
    return truthy(call_global(predicate, key));
}

inline bool is_escape(const py::object& key) {
    return is(key, "\x1b");
}

inline bool is_backspace(const py::object& key) {
    return is(key, "\x7f");
}

// A key whose lower-case form is `letter` (e.g. "s" or "S").
inline bool lower_is(const py::object& key, const char* letter) {
    return equals(key.attr("lower")(), py::str(letter));
}

// The key as text; empty for a key that is not text.
inline std::u32string text_of(const py::object& key) {
    return is_str(key) ? to_u32(key) : std::u32string();
}

// `_move` through the namespace, for every clamped cursor movement.
inline Py_ssize_t moved(Py_ssize_t index, Py_ssize_t delta, Py_ssize_t length) {
    return py::cast<Py_ssize_t>(call_global("_move", index, delta, length));
}

}  // namespace nvx::configure::keys
