#include "budget.hpp"

#include <cstdint>

#include "common/interp.hpp"
#include "core/text/human_count.hpp"

namespace nvx::target {
namespace {

bool machine_int(PyObject* value, std::int64_t& out) {
    if (!PyLong_CheckExact(value)) {
        return false;
    }
    int overflow = 0;
    const long long x = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (x == -1 && PyErr_Occurred()) {
        throw py::error_already_set();
    }
    if (overflow != 0) {
        return false;
    }
    out = x;
    return true;
}

bool less_than(PyObject* value, long long bound) {
    py::object limit = steal(PyLong_FromLongLong(bound));
    py::object result = steal(PyObject_RichCompare(value, limit.ptr(), Py_LT));
    return truthy(result.ptr());
}

// `format(x, ".1f")`.
py::object format_one_decimal(PyObject* x) {
    py::str one_decimal(".1f");
    return steal(PyObject_Format(x, one_decimal.ptr()));
}

// The format for values that are not machine integers, step by step as the
// interpreter evaluates it.
py::str human_count_of_object(PyObject* value) {
    if (less_than(value, 1000)) {
        return steal(PyObject_Str(value));
    }
    double divisor = 1000000000.0;
    const char* unit = "B";
    if (less_than(value, 1000000)) {
        divisor = 1000.0;
        unit = "K";
    } else if (less_than(value, 1000000000)) {
        divisor = 1000000.0;
        unit = "M";
    }
    py::object denominator = steal(PyFloat_FromDouble(divisor));
    py::object quotient = steal(PyNumber_TrueDivide(value, denominator.ptr()));
    py::object text = format_one_decimal(quotient.ptr());
    if (!PyUnicode_Check(text.ptr())) {
        throw py::type_error("format() did not return text");
    }
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text.ptr());
    py::str tail(".0");
    const Py_ssize_t ends = PyUnicode_Tailmatch(text.ptr(), tail.ptr(), 0, length, 1);
    if (ends < 0) {
        throw py::error_already_set();
    }
    if (ends == 1) {
        text = steal(PyUnicode_Substring(text.ptr(), 0, length - 2));
    }
    return steal(PyUnicode_Concat(text.ptr(), py::str(unit).ptr()));
}

}  // namespace

py::str format_human_count(const py::object& value) {
    std::int64_t machine = 0;
    if (machine_int(value.ptr(), machine)) {
        return py::str(target::format_human_count(machine));
    }
    return human_count_of_object(value.ptr());
}

}  // namespace nvx::target
