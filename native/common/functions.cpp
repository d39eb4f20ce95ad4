#include "functions.hpp"

#include <algorithm>
#include <exception>
#include <memory>
#include <string>

#include "module_namespace.hpp"

namespace nvx {
namespace {

struct FunctionSpec {
    std::string name;
    std::vector<Param> params;
    Py_ssize_t required = 0;  // number of leading parameters without a default
    Body body;                // set for a function with a fixed parameter list
    VariadicBody variadic;    // set for one that also takes `*args, **kwargs`
    // "name($module, params)\n--\n\n" + the docstring: the interpreter reads the
    // signature from it for `inspect.signature` and leaves `__doc__` the docstring.
    std::string doc;
    PyMethodDef method{};

    bool is_variadic() const { return static_cast<bool>(variadic); }
};

void set_python_error_from_current_exception() {
    try {
        throw;
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (py::builtin_exception& e) {
        e.set_error();
    } catch (std::out_of_range& e) {
        PyErr_SetString(PyExc_IndexError, e.what());
    } catch (std::invalid_argument& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    } catch (std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "unexpected C++ exception of unknown type");
    }
}

}  // namespace

void raise_current_exception() {
    set_python_error_from_current_exception();
    throw py::error_already_set();
}

namespace {

// Raises the interpreter's TypeError for a wrong positional count, e.g.
// "name() takes exactly 1 positional argument (2 given)".
[[noreturn]] void raise_arg_count(const char* name, const char* qualifier, Py_ssize_t expected,
                                  Py_ssize_t given) {
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)", name,
                 qualifier, expected, expected == 1 ? "" : "s", given);
    throw py::error_already_set();
}

// Binds the parameters from the leading positional arguments and the keywords
// that name them; a missing one takes its default. A variadic function leaves
// the surplus positionals to its caller and collects the keywords that name no
// parameter in `surplus`; for any other function both are errors.
Args bind_arguments(const FunctionSpec& spec, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    py::dict* surplus) {
    const auto count = static_cast<Py_ssize_t>(spec.params.size());
    const bool fixed = surplus == nullptr;
    if (fixed && nargs > count) {
        raise_arg_count(spec.name.c_str(), spec.required == count ? "exactly" : "at most", count, nargs);
    }
    Args bound(spec.params.size());
    for (Py_ssize_t i = 0; i < std::min(nargs, count); ++i) {
        bound[i] = py::reinterpret_borrow<py::object>(args[i]);
    }
    const Py_ssize_t nkw = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        PyObject* value = args[nargs + k];
        Py_ssize_t slot = -1;
        for (Py_ssize_t i = 0; i < count; ++i) {
            if (PyUnicode_CompareWithASCIIString(key, spec.params[i].name) == 0) {
                slot = i;
                break;
            }
        }
        if (slot < 0) {
            if (fixed) {
                PyErr_Format(PyExc_TypeError, "%.200s() got an unexpected keyword argument '%U'",
                             spec.name.c_str(), key);
                throw py::error_already_set();
            }
            if (PyDict_SetItem(surplus->ptr(), key, value) < 0) {
                throw py::error_already_set();
            }
            continue;
        }
        if (bound[slot]) {
            PyErr_Format(PyExc_TypeError, "%.200s() got multiple values for keyword argument '%U'",
                         spec.name.c_str(), key);
            throw py::error_already_set();
        }
        bound[slot] = py::reinterpret_borrow<py::object>(value);
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (bound[i]) {
            continue;
        }
        const Param& param = spec.params[i];
        if (!param.has_default) {
            raise_arg_count(spec.name.c_str(), fixed && spec.required == count ? "exactly" : "at least",
                            spec.required, i);
        }
        bound[i] = param.fallback;
    }
    return bound;
}

// The entry point of every function made here.
PyObject* trampoline(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    auto* spec = static_cast<FunctionSpec*>(PyCapsule_GetPointer(self, nullptr));
    if (spec == nullptr) {
        return nullptr;
    }
    try {
        if (!spec->is_variadic()) {
            Args bound = bind_arguments(*spec, args, nargs, kwnames, nullptr);
            return spec->body(bound).release().ptr();
        }
        py::dict kwargs;
        Args bound = bind_arguments(*spec, args, nargs, kwnames, &kwargs);
        const Py_ssize_t leading = std::min(nargs, static_cast<Py_ssize_t>(spec->params.size()));
        py::tuple rest(static_cast<size_t>(nargs - leading));
        for (Py_ssize_t i = leading; i < nargs; ++i) {
            PyTuple_SET_ITEM(rest.ptr(), i - leading, Py_NewRef(args[i]));
        }
        return spec->variadic(bound, rest, kwargs).release().ptr();
    } catch (...) {
        set_python_error_from_current_exception();
        return nullptr;
    }
}

// The parameter list of the text signature, with `*args, **kwargs` for a variadic one.
std::string signature_text(const FunctionSpec& spec) {
    std::string text = spec.name + "($module";
    for (const Param& param : spec.params) {
        text += ", ";
        text += param.name;
        if (param.has_default) {
            text += "=" + py::cast<std::string>(py::repr(param.fallback));
        }
    }
    if (spec.is_variadic()) {
        text += ", *args, **kwargs";
    }
    return text + ")\n--\n\n";
}

py::object build_function(const char* name, std::vector<Param> params, const char* doc, Body body,
                          VariadicBody variadic) {
    auto owned = std::make_unique<FunctionSpec>();
    FunctionSpec* spec = owned.get();
    spec->name = name;
    spec->params = std::move(params);
    spec->body = std::move(body);
    spec->variadic = std::move(variadic);
    while (spec->required < static_cast<Py_ssize_t>(spec->params.size()) &&
           !spec->params[spec->required].has_default) {
        ++spec->required;
    }
    spec->doc = signature_text(*spec) + (doc != nullptr ? doc : "");
    spec->method.ml_name = spec->name.c_str();
    spec->method.ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&trampoline));
    spec->method.ml_flags = METH_FASTCALL | METH_KEYWORDS;
    spec->method.ml_doc = spec->doc.c_str();

    // The capsule owns the function's record from here on, also when creating it fails.
    PyObject* capsule = PyCapsule_New(spec, nullptr, [](PyObject* self) {
        delete static_cast<FunctionSpec*>(PyCapsule_GetPointer(self, nullptr));
    });
    if (capsule == nullptr) {
        throw py::error_already_set();
    }
    owned.release();
    py::object holder = py::reinterpret_steal<py::object>(capsule);
    py::str owner(module_name());
    PyObject* fn = PyCFunction_NewEx(&spec->method, holder.ptr(), owner.ptr());
    if (fn == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::object>(fn);
}

}  // namespace

py::object make_function(const char* name, std::vector<Param> params, const char* doc, Body body) {
    return build_function(name, std::move(params), doc, std::move(body), nullptr);
}

py::object make_variadic_function(const char* name, std::vector<Param> params, const char* doc,
                                  VariadicBody body) {
    return build_function(name, std::move(params), doc, nullptr, std::move(body));
}

}  // namespace nvx
