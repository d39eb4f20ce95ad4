// Reference and lookup helpers over the interpreter's documented C interface,
// shared by both extension modules.
#pragma once

#include <pybind11/pybind11.h>

#include <initializer_list>
#include <utility>

namespace nvx {
namespace py = pybind11;

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

// `list(items)`: a new list, also when `items` already is one.
inline py::list list_copy(const py::handle& items) {
    return py::reinterpret_steal<py::list>(steal(PySequence_List(items.ptr())).release());
}

// An interned str kept for the life of the process.
PyObject* intern(const char* text);

// `value in container` with the interpreter's rules.
bool contains(PyObject* container, PyObject* value);
inline bool contains(const py::handle& container, const py::handle& value) {
    return contains(container.ptr(), value.ptr());
}

// Owns `result`; a null object when it is null because of an AttributeError
// (which is cleared); any other error propagates.
py::object steal_unless_attribute_error(PyObject* result);

// `obj.name`, or a null object when reading it raises AttributeError (what
// `getattr(obj, name, None)` and `hasattr` treat as absent); other errors propagate.
py::object attribute_if_present(PyObject* obj, PyObject* name);

// The interpreter's ValueError of `a, b = item` with `got` values out of `expected`.
[[noreturn]] void raise_unpack_error(Py_ssize_t expected, Py_ssize_t got);

// `a, b = item` (any iterable), with the interpreter's errors.
std::pair<py::object, py::object> unpack_pair(PyObject* item);

// What attribute lookup finds for each of `names` on the class itself (its MRO,
// not the metaclass, descriptors not called): borrowed, null when absent, valid
// while the class lives and stays unchanged. `found` has one slot per name.
void type_lookup(PyTypeObject* type, std::initializer_list<PyObject*> names, PyObject** found);
PyObject* type_lookup(PyTypeObject* type, PyObject* name);

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
