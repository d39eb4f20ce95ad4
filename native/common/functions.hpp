// Python-visible functions defined in C++, for both extension modules.
//
// Every function made here gets:
//   - an exact `__doc__` (no signature line) and `__module__`;
//   - a text signature, so `inspect.signature` shows its parameters;
//   - parameters bound by position or by keyword, with optional defaults;
//   - TypeError texts worded like the interpreter's own argument errors.
#pragma once

#include <pybind11/pybind11.h>

#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

namespace nvx {
namespace py = pybind11;

struct Param {
    Param(const char* param_name) : name(param_name) {}  // NOLINT: implicit by design
    Param(const char* param_name, py::object default_value)
        : name(param_name), fallback(std::move(default_value)), has_default(true) {}

    const char* name;
    py::object fallback;
    bool has_default = false;
};

// Raises the C++ exception being handled as the interpreter's error, as a
// Python-visible function's caller would see it: an interpreter error as it
// is, std::out_of_range as IndexError, std::invalid_argument as ValueError,
// memory exhaustion as MemoryError, anything else as RuntimeError.
[[noreturn]] void raise_current_exception();

// The bound arguments of one call, in parameter order.
using Args = std::vector<py::object>;
using Body = std::function<py::object(Args&)>;

// Builds a builtin function object named `name` (doc may be nullptr: no docstring).
py::object make_function(const char* name, std::vector<Param> params, const char* doc, Body body);

// The body of a variadic function: the bound leading parameters, then the
// surplus positional arguments and the keyword arguments naming no parameter.
using VariadicBody = std::function<py::object(Args&, py::tuple&, py::dict&)>;

// Builds a builtin function object taking `params` followed by `*args, **kwargs`;
// a method `(self, *args, **kwargs)` has params {"self"}. Missing leading
// parameters raise "name() takes at least N positional argument(s) (M given)".
py::object make_variadic_function(const char* name, std::vector<Param> params, const char* doc,
                                  VariadicBody body);

// Wraps any callable taking `Args&` into a Body returning a Python object.
template <typename F>
Body to_body(F&& fn) {
    return [fn = std::forward<F>(fn)](Args& args) -> py::object {
        using Result = decltype(fn(args));
        if constexpr (std::is_void_v<Result>) {
            fn(args);
            return py::none();
        } else if constexpr (std::is_base_of_v<py::handle, std::decay_t<Result>>) {
            return py::reinterpret_borrow<py::object>(fn(args));
        } else {
            return py::cast(fn(args));
        }
    };
}

// Defines a module-level function.
template <typename F>
void def(py::module_& module, const char* name, std::vector<Param> params, const char* doc, F&& fn) {
    module.attr(name) = make_function(name, std::move(params), doc, to_body(std::forward<F>(fn)));
}

}  // namespace nvx
