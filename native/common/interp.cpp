#include "interp.hpp"

namespace nvx {
namespace {

bool compare(PyObject* a, PyObject* b, int op) {
    if (PyUnicode_CheckExact(a) && PyUnicode_CheckExact(b)) {
        return (PyUnicode_Compare(a, b) == 0) == (op == Py_EQ);
    }
    py::object result = steal(PyObject_RichCompare(a, b, op));
    return truthy(result);
}

// The namespace a class's own attributes live in, kept alive by `hold`: the
// class dict itself where the interpreter offers it, else the read-only view
// that `cls.__dict__` gives.
PyObject* class_namespace(PyObject* cls, py::object& hold) {
#if PY_VERSION_HEX >= 0x030C0000
    hold = steal(PyType_GetDict(reinterpret_cast<PyTypeObject*>(cls)));
#else
    static PyObject* const dict_name = intern("__dict__");
    hold = steal(PyObject_GetAttr(cls, dict_name));
#endif
    return hold.ptr();
}

// `namespace_[name]` borrowed from the namespace, or null when absent.
PyObject* namespace_entry(PyObject* namespace_, PyObject* name) {
    if (PyDict_Check(namespace_)) {
        PyObject* found = PyDict_GetItemWithError(namespace_, name);
        if (found == nullptr && PyErr_Occurred()) throw py::error_already_set();
        return found;
    }
    if (!contains(namespace_, name)) return nullptr;
    // The class dict holds the value while the class lives unchanged.
    return steal(PyObject_GetItem(namespace_, name)).ptr();
}

}  // namespace

PyObject* intern(const char* text) {
    PyObject* value = PyUnicode_InternFromString(text);
    if (value == nullptr) {
        throw py::error_already_set();
    }
    return value;
}

// ---------------------------------------------------------------------------
// Values
// ---------------------------------------------------------------------------

py::str to_str(const py::handle& value) {
    return py::str(value);
}

bool truthy(const py::handle& value) {
    PyObject* obj = value.ptr();
    if (obj == Py_True) return true;
    if (obj == Py_False || obj == Py_None) return false;
    const int result = PyObject_IsTrue(obj);
    if (result < 0) {
        throw py::error_already_set();
    }
    return result != 0;
}

bool equals(const py::handle& a, const py::handle& b) {
    const int result = PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_EQ);
    if (result < 0) {
        throw py::error_already_set();
    }
    return result != 0;
}

bool py_eq(PyObject* a, PyObject* b) {
    return compare(a, b, Py_EQ);
}

bool py_ne(PyObject* a, PyObject* b) {
    return compare(a, b, Py_NE);
}

bool is_bool(const py::handle& value) {
    return PyBool_Check(value.ptr());
}
bool is_int(const py::handle& value) {
    return PyLong_Check(value.ptr()) && !PyBool_Check(value.ptr());
}
bool is_float(const py::handle& value) {
    return PyFloat_Check(value.ptr());
}
bool is_dict(const py::handle& value) {
    return PyDict_Check(value.ptr());
}
bool is_str(const py::handle& value) {
    return PyUnicode_Check(value.ptr());
}

bool contains(PyObject* container, PyObject* value) {
    const int result = PySequence_Contains(container, value);
    if (result < 0) {
        throw py::error_already_set();
    }
    return result != 0;
}

py::object get_item(const py::handle& container, const py::handle& key) {
    if (PyDict_CheckExact(container.ptr())) {
        PyObject* found = PyDict_GetItemWithError(container.ptr(), key.ptr());  // borrowed
        if (found != nullptr) {
            return borrow(found);
        }
        if (PyErr_Occurred()) {
            throw py::error_already_set();
        }
        // The interpreter's KeyError carries the key itself as its argument.
        PyObject* error_arg = PyTuple_Pack(1, key.ptr());
        if (error_arg == nullptr) {
            throw py::error_already_set();
        }
        PyErr_SetObject(PyExc_KeyError, error_arg);
        Py_DECREF(error_arg);
        throw py::error_already_set();
    }
    return steal(PyObject_GetItem(container.ptr(), key.ptr()));
}

void set_item(PyObject* dict, PyObject* key, PyObject* value) {
    if (PyDict_SetItem(dict, key, value) < 0) throw py::error_already_set();
}

void Sum::spill() {
    if (!slow_) {
        slow_ = steal(PyLong_FromLongLong(fast_));
    }
}

void Sum::add(PyObject* value) {
    if (!slow_ && PyLong_CheckExact(value)) {
        int overflow = 0;
        const long long x = PyLong_AsLongLongAndOverflow(value, &overflow);
        if (x == -1 && PyErr_Occurred()) {
            throw py::error_already_set();
        }
        std::int64_t next = 0;
        if (overflow == 0 && !__builtin_add_overflow(fast_, static_cast<std::int64_t>(x), &next)) {
            fast_ = next;
            return;
        }
    }
    spill();
    slow_ = steal(PyNumber_InPlaceAdd(slow_.ptr(), value));
}

void Sum::add(std::int64_t value) {
    std::int64_t next = 0;
    if (!slow_ && !__builtin_add_overflow(fast_, value, &next)) {
        fast_ = next;
        return;
    }
    py::object boxed = steal(PyLong_FromLongLong(value));
    spill();
    slow_ = steal(PyNumber_InPlaceAdd(slow_.ptr(), boxed.ptr()));
}

py::object Sum::value() const {
    if (slow_) {
        return slow_;
    }
    return steal(PyLong_FromLongLong(fast_));
}

// ---------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------

std::u32string to_u32(const py::handle& str) {
    std::u32string out;
    to_u32(str, out);
    return out;
}

void to_u32(const py::handle& str, std::u32string& out) {
    PyObject* obj = str.ptr();
    if (!PyUnicode_Check(obj)) {
        raise(PyExc_TypeError, "expected str");
    }
    const Py_ssize_t length = PyUnicode_GET_LENGTH(obj);
    const int kind = PyUnicode_KIND(obj);
    const void* data = PyUnicode_DATA(obj);
    out.resize(static_cast<size_t>(length));
    for (Py_ssize_t i = 0; i < length; ++i) {
        out[static_cast<size_t>(i)] = static_cast<char32_t>(PyUnicode_READ(kind, data, i));
    }
}

py::str from_u32(const std::u32string& text) {
    PyObject* obj =
        PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, text.data(), static_cast<Py_ssize_t>(text.size()));
    if (obj == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::str>(obj);
}

py::str from_utf8(const std::string& text) {
    PyObject* obj = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
    if (obj == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::str>(obj);
}

bool utf8_view(PyObject* text, std::string_view& out) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (data == nullptr) {
        PyErr_Clear();
        return false;
    }
    out = std::string_view(data, static_cast<size_t>(size));
    return true;
}

// ---------------------------------------------------------------------------
// Lookups
// ---------------------------------------------------------------------------

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

py::object attribute_if_present(const py::handle& obj, PyObject* name) {
    return steal_unless_attribute_error(PyObject_GetAttr(obj.ptr(), name));
}

std::string type_name_in_messages(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    const py::handle type_object(reinterpret_cast<PyObject*>(type));
    std::string name = py::cast<std::string>(py::str(type_object.attr("__name__")));
    // A class made at run time is named by its `__name__` alone; a static one
    // by its full dotted name, from which the interpreter takes `__module__`.
    if ((PyType_GetFlags(type) & Py_TPFLAGS_HEAPTYPE) == 0) {
        const std::string module = py::cast<std::string>(py::str(type_object.attr("__module__")));
        if (module != "builtins") name = module + "." + name;
    }
    return name;
}

std::pair<py::object, py::object> unpack_pair(PyObject* item) {
    if (PyTuple_CheckExact(item) && PyTuple_GET_SIZE(item) == 2) {
        return {borrow(PyTuple_GET_ITEM(item, 0)), borrow(PyTuple_GET_ITEM(item, 1))};
    }
    PyObject* started = PyObject_GetIter(item);
    if (started == nullptr) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            raise(PyExc_TypeError, "cannot unpack non-iterable " + type_name_in_messages(item) + " object");
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
        PyObject* namespace_ = class_namespace(cls, hold);
        std::size_t k = 0;
        for (PyObject* name : names) {
            if (found[k] == nullptr) {
                found[k] = namespace_entry(namespace_, name);
                if (found[k] != nullptr) --missing;
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

// ---------------------------------------------------------------------------
// Errors
// ---------------------------------------------------------------------------

void raise(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    throw py::error_already_set();
}

void raise_unpack_error(Py_ssize_t expected, Py_ssize_t got) {
    if (got < expected) {
        PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected %zd, got %zd)", expected, got);
    } else {
        PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", expected);
    }
    throw py::error_already_set();
}

}  // namespace nvx
