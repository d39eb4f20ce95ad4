// The small layer between plain C++ logic and the interpreter, shared by both
// extension modules.
//
// Every Python-visible function is defined through `def`, which gives it:
//   - an exact `__doc__` (no signature line) and `__module__`;
//   - parameters bound by position or by keyword, with optional defaults;
//   - TypeError texts worded like the interpreter's own argument errors.
//
// Globals are never cached: `global()` reads the module's `__dict__` (then the
// builtins) at the time of use, so replacing a module attribute from Python takes
// effect on the next call, exactly as it would for interpreted code.
#pragma once

#include <pybind11/pybind11.h>

#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace nvx {
namespace py = pybind11;

// ---------------------------------------------------------------------------
// The module namespace
// ---------------------------------------------------------------------------

// Remembers the extension module being initialised; called once from its init.
void bind_module_namespace(const py::module_& module);

// The module's live `__dict__`.
py::dict module_namespace();

// The module's import name ("neuvora.configure_neuvora").
const std::string& module_name();

// Looks `name` up as a global of interpreted code would: the module's own
// attributes first, then the builtins. Raises NameError when neither has it.
py::object global(const char* name);

// Calls a global by name, so that a replacement made from Python is honoured.
template <typename... CallArgs>
py::object call_global(const char* name, CallArgs&&... args) {
    return global(name)(std::forward<CallArgs>(args)...);
}

// The interpreter's `print`, looked up at call time, with `end` and `flush`.
void print_text(const py::object& text, const char* end = "\n", bool flush = false);

// `json.load(open(path, "r"))` through the module's `open` and `json`; the file
// is closed on every way out.
py::object read_json_file(const py::handle& path);

// ---------------------------------------------------------------------------
// Function definitions
// ---------------------------------------------------------------------------

struct Param {
    Param(const char* param_name) : name(param_name) {}  // NOLINT: implicit by design
    Param(const char* param_name, py::object default_value)
        : name(param_name), fallback(std::move(default_value)), has_default(true) {}

    const char* name;
    py::object fallback;
    bool has_default = false;
};

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

// Raises the interpreter's TypeError for a wrong positional count, e.g.
// "name() takes exactly 1 positional argument (2 given)".
[[noreturn]] void raise_arg_count(const char* name, const char* qualifier, Py_ssize_t expected,
                                  Py_ssize_t given);

// ---------------------------------------------------------------------------
// Values
// ---------------------------------------------------------------------------

// `str(value)` as the interpreter computes it.
py::str to_str(const py::handle& value);

// Truth value as the interpreter computes it (may raise).
bool truthy(const py::handle& value);

// Python `==` (may raise).
bool equals(const py::handle& a, const py::handle& b);

// Python `isinstance(value, bool)`, `int` (excluding bool), `float`, `list`, `dict`, `str`.
bool is_bool(const py::handle& value);
bool is_int(const py::handle& value);
bool is_float(const py::handle& value);
bool is_list(const py::handle& value);
bool is_dict(const py::handle& value);
bool is_str(const py::handle& value);

// Code points of a Python str.
std::u32string to_u32(const py::handle& str);
// A Python str from code points.
py::str from_u32(const std::u32string& text);
// A Python str from a UTF-8 literal.
py::str from_utf8(const std::string& text);

// Raises a builtin exception type with a message (through the interpreter).
[[noreturn]] void raise(PyObject* type, const std::string& message);

}  // namespace nvx
