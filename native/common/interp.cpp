#include "interp.hpp"

#include <string>

namespace nvx {
namespace {

// The class's own namespace dict, borrowed (new reference from 3.12 on, held by `hold`).
PyObject* class_dict(PyObject* cls, py::object& hold) {
#if PY_VERSION_HEX >= 0x030C0000
    hold = steal(PyType_GetDict(reinterpret_cast<PyTypeObject*>(cls)));
    return hold.ptr();
#else
    (void)hold;
    return reinterpret_cast<PyTypeObject*>(cls)->tp_dict;
#endif
}

}  // namespace

PyObject* intern(const char* text) {
    PyObject* value = PyUnicode_InternFromString(text);
    if (value == nullptr) {
        throw py::error_already_set();
    }
    return value;
}

bool contains(PyObject* container, PyObject* value) {
    const int result = PySequence_Contains(container, value);
    if (result < 0) {
        throw py::error_already_set();
    }
    return result != 0;
}

py::object steal_unless_attribute_error(PyObject* result) {
    if (result == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
            throw py::error_already_set();
        }
        PyErr_Clear();
        return py::object();
    }
    return py::reinterpret_steal<py::object>(result);
}

py::object attribute_if_present(PyObject* obj, PyObject* name) {
    return steal_unless_attribute_error(PyObject_GetAttr(obj, name));
}

void raise_unpack_error(Py_ssize_t expected, Py_ssize_t got) {
    if (got < expected) {
        PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected %zd, got %zd)", expected, got);
    } else {
        PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", expected);
    }
    throw py::error_already_set();
}

std::pair<py::object, py::object> unpack_pair(PyObject* item) {
    if (PyTuple_CheckExact(item) && PyTuple_GET_SIZE(item) == 2) {
        return {borrow(PyTuple_GET_ITEM(item, 0)), borrow(PyTuple_GET_ITEM(item, 1))};
    }
    PyObject* started = PyObject_GetIter(item);
    if (started == nullptr) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "cannot unpack non-iterable %.200s object", Py_TYPE(item)->tp_name);
        }
        throw py::error_already_set();
    }
    py::object iterator = steal(started);
    py::object values[2];
    for (Py_ssize_t i = 0; i < 2; ++i) {
        PyObject* next = PyIter_Next(iterator.ptr());
        if (next == nullptr) {
            if (PyErr_Occurred()) throw py::error_already_set();
            raise_unpack_error(2, i);
        }
        values[i] = steal(next);
    }
    PyObject* extra = PyIter_Next(iterator.ptr());
    if (extra != nullptr) {
        Py_DECREF(extra);
        raise_unpack_error(2, 3);
    }
    if (PyErr_Occurred()) throw py::error_already_set();
    return {values[0], values[1]};
}

void type_lookup(PyTypeObject* type, std::initializer_list<PyObject*> names, PyObject** found) {
    static PyObject* const mro_name = intern("__mro__");
    const std::size_t count = names.size();
    for (std::size_t k = 0; k < count; ++k) found[k] = nullptr;
    py::object mro = steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), mro_name));
    if (!PyTuple_Check(mro.ptr())) {
        throw py::type_error("__mro__ is not a tuple");
    }
    std::size_t missing = count;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro.ptr()) && missing > 0; ++i) {
        PyObject* cls = PyTuple_GET_ITEM(mro.ptr(), i);
        if (!PyType_Check(cls)) continue;
        py::object hold;
        PyObject* dict = class_dict(cls, hold);
        if (dict == nullptr) continue;
        std::size_t k = 0;
        for (PyObject* name : names) {
            if (found[k] == nullptr) {
                found[k] = PyDict_GetItemWithError(dict, name);
                if (found[k] != nullptr) {
                    --missing;
                } else if (PyErr_Occurred()) {
                    throw py::error_already_set();
                }
            }
            ++k;
        }
    }
}

PyObject* type_lookup(PyTypeObject* type, PyObject* name) {
    PyObject* found = nullptr;
    type_lookup(type, {name}, &found);
    return found;
}

}  // namespace nvx
