// Helpers over the interpreter's documented C interface, shared by both
// extension modules: owned references, values with the interpreter's rules,
// text as code points, attribute and item lookups, and errors.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace nvx {
namespace py = pybind11;

// ---------------------------------------------------------------------------
// References
// ---------------------------------------------------------------------------

// Takes ownership of a new reference; a null result means a Python error is set.
inline py::object steal(PyObject* result) {
    if (result == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::object>(result);
}

inline py::object borrow(PyObject* value) {
    return py::reinterpret_borrow<py::object>(value);
}

// An interned str kept for the life of the process.
PyObject* intern(const char* text);

// ---------------------------------------------------------------------------
// Values
// ---------------------------------------------------------------------------

// `str(value)` as the interpreter computes it (a str itself is returned as is).
py::str to_str(const py::handle& value);

// Truth value as the interpreter computes it (may raise).
bool truthy(const py::handle& value);

// `a == b` after an identity check, as `in`, `list.index` and dict lookups
// compare (may raise).
bool equals(const py::handle& a, const py::handle& b);

// The operators `a == b` and `a != b` themselves: no identity shortcut, the
// result's truth value (may raise).
bool py_eq(PyObject* a, PyObject* b);
bool py_ne(PyObject* a, PyObject* b);

// Python `isinstance(value, bool)`, `int` (excluding bool), `float`, `dict`, `str`.
bool is_bool(const py::handle& value);
bool is_int(const py::handle& value);
bool is_float(const py::handle& value);
bool is_dict(const py::handle& value);
bool is_str(const py::handle& value);

// `list(items)`: a new list, also when `items` already is one.
inline py::list list_copy(const py::handle& items) {
    return py::reinterpret_steal<py::list>(steal(PySequence_List(items.ptr())).release());
}

// `value in container` with the interpreter's rules.
bool contains(PyObject* container, PyObject* value);
inline bool contains(const py::handle& container, const py::handle& value) {
    return contains(container.ptr(), value.ptr());
}

// `container[key]` (KeyError and friends exactly as the interpreter raises them).
py::object get_item(const py::handle& container, const py::handle& key);

// `dict[key] = value` on a dict.
void set_item(PyObject* dict, PyObject* key, PyObject* value);

// A running `total += value` that stays in machine integers while it can and
// moves to the interpreter's integers (or whatever `+` gives) when it cannot.
class Sum {
public:
    void add(PyObject* value);
    void add(std::int64_t value);
    bool exact_machine() const { return !slow_; }
    std::int64_t machine_value() const { return fast_; }
    py::object value() const;

private:
    void spill();
    std::int64_t fast_ = 0;
    py::object slow_;
};

// ---------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------

// Code points of a Python str (TypeError for anything else).
std::u32string to_u32(const py::handle& str);
// The same into `out`, reusing its storage.
void to_u32(const py::handle& str, std::u32string& out);
// A Python str from code points.
py::str from_u32(const std::u32string& text);
// A Python str from a UTF-8 literal.
py::str from_utf8(const std::string& text);

// UTF-8 view of a str; false when it cannot be encoded (lone surrogates). The
// view stays valid while the str lives.
bool utf8_view(PyObject* text, std::string_view& out);

// ---------------------------------------------------------------------------
// Lookups
// ---------------------------------------------------------------------------

// Owns `result`; a null object when it is null because of an AttributeError
// (which is cleared); any other error propagates.
py::object steal_unless_attribute_error(PyObject* result);

// `obj.name`, or a null object when reading it raises AttributeError (what
// `getattr(obj, name, None)` and `hasattr` treat as absent); other errors propagate.
py::object attribute_if_present(const py::handle& obj, PyObject* name);

// `a, b = item` (any iterable), with the interpreter's errors.
std::pair<py::object, py::object> unpack_pair(PyObject* item);

// What attribute lookup finds for each of `names` on the class itself (its MRO,
// not the metaclass, descriptors not called): borrowed, null when absent, valid
// while the class lives and stays unchanged. `found` has one slot per name.
void type_lookup(PyTypeObject* type, std::initializer_list<PyObject*> names, PyObject** found);
PyObject* type_lookup(PyTypeObject* type, PyObject* name);

// ---------------------------------------------------------------------------
// Errors
// ---------------------------------------------------------------------------

// Raises a builtin exception type with a message (through the interpreter).
[[noreturn]] void raise(PyObject* type, const std::string& message);

// The interpreter's ValueError of `a, b = item` with `got` values out of `expected`.
[[noreturn]] void raise_unpack_error(Py_ssize_t expected, Py_ssize_t got);

// The name of `object`'s class as the interpreter's own error messages give
// it: `__name__`, led by `__module__` and a dot for a class of an extension
// module other than the builtins ("int", "Foo", "numpy.ndarray").
std::string type_name_in_messages(PyObject* object);

// ---------------------------------------------------------------------------
// Collection
// ---------------------------------------------------------------------------

// Holds the interpreter's cyclic garbage collector off while many containers
// are created in a row (entry dicts, records): otherwise every few hundred
// allocations start a collection that walks the whole young generation, and
// now and then the whole model. Only when collection happens changes, never
// what is collected. The previous state is restored on the way out.
class GcPause {
public:
    GcPause() : was_enabled_(PyGC_Disable() != 0) {}
    ~GcPause() {
        if (was_enabled_) PyGC_Enable();
    }
    GcPause(const GcPause&) = delete;
    GcPause& operator=(const GcPause&) = delete;

private:
    bool was_enabled_;
};

}  // namespace nvx
