#include "glue.hpp"

#include <exception>
#include <memory>

namespace nvx {
namespace {

// The module dictionary of the extension this copy of the glue is linked into.
// Each extension links its own copy (symbols are hidden), so two modules never
// share it. The dictionary lives as long as the module object, i.e. forever.
PyObject* g_module_dict = nullptr;
std::string g_module_name;

struct FunctionSpec {
    std::string name;
    std::vector<Param> params;
    Py_ssize_t required = 0;  // number of leading parameters without a default
    Body body;
    VariadicBody variadic;
    // "name($module, params)\n--\n\n" + the docstring: the interpreter reads the
    // signature from it for `inspect.signature` and leaves `__doc__` the docstring.
    std::string doc;
    PyMethodDef method{};
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

Args bind_arguments(const FunctionSpec& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames) {
    const auto count = static_cast<Py_ssize_t>(signature.params.size());
    if (nargs > count) {
        raise_arg_count(signature.name.c_str(), signature.required == count ? "exactly" : "at most", count,
                        nargs);
    }
    Args bound(signature.params.size());
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        bound[i] = py::reinterpret_borrow<py::object>(args[i]);
    }
    if (kwnames != nullptr) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            PyObject* key = PyTuple_GET_ITEM(kwnames, k);
            Py_ssize_t slot = -1;
            for (Py_ssize_t i = 0; i < count; ++i) {
                if (PyUnicode_CompareWithASCIIString(key, signature.params[i].name) == 0) {
                    slot = i;
                    break;
                }
            }
            if (slot < 0) {
                PyErr_Format(PyExc_TypeError, "%.200s() got an unexpected keyword argument '%U'",
                             signature.name.c_str(), key);
                throw py::error_already_set();
            }
            if (bound[slot]) {
                PyErr_Format(PyExc_TypeError, "%.200s() got multiple values for keyword argument '%U'",
                             signature.name.c_str(), key);
                throw py::error_already_set();
            }
            bound[slot] = py::reinterpret_borrow<py::object>(args[nargs + k]);
        }
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (bound[i]) {
            continue;
        }
        const Param& param = signature.params[i];
        if (!param.has_default) {
            raise_arg_count(signature.name.c_str(), signature.required == count ? "exactly" : "at least",
                            signature.required, i);
        }
        bound[i] = param.fallback;
    }
    return bound;
}

PyObject* trampoline(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    auto* signature = static_cast<FunctionSpec*>(PyCapsule_GetPointer(self, nullptr));
    if (signature == nullptr) {
        return nullptr;
    }
    try {
        Args bound = bind_arguments(*signature, args, nargs, kwnames);
        py::object result = signature->body(bound);
        return result.release().ptr();
    } catch (...) {
        set_python_error_from_current_exception();
        return nullptr;
    }
}

// Binds `(params..., *args, **kwargs)`: leading parameters by position or keyword,
// the surplus positionals into a tuple, the other keywords into a new dict.
PyObject* variadic_trampoline(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    auto* signature = static_cast<FunctionSpec*>(PyCapsule_GetPointer(self, nullptr));
    if (signature == nullptr) {
        return nullptr;
    }
    try {
        const auto count = static_cast<Py_ssize_t>(signature->params.size());
        const Py_ssize_t leading = nargs < count ? nargs : count;
        Args bound(signature->params.size());
        for (Py_ssize_t i = 0; i < leading; ++i) {
            bound[i] = py::reinterpret_borrow<py::object>(args[i]);
        }
        py::tuple rest(static_cast<size_t>(nargs - leading));
        for (Py_ssize_t i = leading; i < nargs; ++i) {
            PyTuple_SET_ITEM(rest.ptr(), i - leading, Py_NewRef(args[i]));
        }
        py::dict kwargs;
        const Py_ssize_t nkw = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            PyObject* key = PyTuple_GET_ITEM(kwnames, k);
            Py_ssize_t slot = -1;
            for (Py_ssize_t i = 0; i < count; ++i) {
                if (PyUnicode_CompareWithASCIIString(key, signature->params[i].name) == 0) {
                    slot = i;
                    break;
                }
            }
            if (slot < 0) {
                if (PyDict_SetItem(kwargs.ptr(), key, args[nargs + k]) < 0) {
                    throw py::error_already_set();
                }
                continue;
            }
            if (bound[slot]) {
                PyErr_Format(PyExc_TypeError, "%.200s() got multiple values for keyword argument '%U'",
                             signature->name.c_str(), key);
                throw py::error_already_set();
            }
            bound[slot] = py::reinterpret_borrow<py::object>(args[nargs + k]);
        }
        for (Py_ssize_t i = 0; i < count; ++i) {
            if (bound[i]) {
                continue;
            }
            const Param& param = signature->params[i];
            if (!param.has_default) {
                raise_arg_count(signature->name.c_str(), "at least", signature->required, i);
            }
            bound[i] = param.fallback;
        }
        py::object result = signature->variadic(bound, rest, kwargs);
        return result.release().ptr();
    } catch (...) {
        set_python_error_from_current_exception();
        return nullptr;
    }
}

using FastEntry = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

// The parameter list of the text signature; `variadic` adds `*args, **kwargs`.
std::string signature_text(const FunctionSpec& function, bool variadic) {
    std::string text = function.name + "($module";
    for (const Param& param : function.params) {
        text += ", ";
        text += param.name;
        if (param.has_default) {
            text += "=" + py::cast<std::string>(py::repr(param.fallback));
        }
    }
    if (variadic) {
        text += ", *args, **kwargs";
    }
    return text + ")\n--\n\n";
}

py::object build_function(std::unique_ptr<FunctionSpec> owned, const char* doc, FastEntry entry) {
    FunctionSpec* signature = owned.get();
    signature->required = 0;
    while (signature->required < static_cast<Py_ssize_t>(signature->params.size()) &&
           !signature->params[signature->required].has_default) {
        ++signature->required;
    }
    signature->doc = signature_text(*signature, entry != &trampoline) + (doc != nullptr ? doc : "");
    signature->method.ml_name = signature->name.c_str();
    signature->method.ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry));
    signature->method.ml_flags = METH_FASTCALL | METH_KEYWORDS;
    signature->method.ml_doc = signature->doc.c_str();

    // The capsule owns the function's record from here on, also when creating it fails.
    PyObject* capsule = PyCapsule_New(signature, nullptr, [](PyObject* self) {
        delete static_cast<FunctionSpec*>(PyCapsule_GetPointer(self, nullptr));
    });
    if (capsule == nullptr) {
        throw py::error_already_set();
    }
    owned.release();
    py::object holder = py::reinterpret_steal<py::object>(capsule);
    py::str owner(g_module_name);
    PyObject* fn = PyCFunction_NewEx(&signature->method, holder.ptr(), owner.ptr());
    if (fn == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::object>(fn);
}

}  // namespace

void bind_module_namespace(const py::module_& module) {
    g_module_dict = PyModule_GetDict(module.ptr());  // borrowed; the module is immortal here
    Py_INCREF(g_module_dict);
    g_module_name = py::cast<std::string>(module.attr("__name__"));
}

py::dict module_namespace() {
    return py::reinterpret_borrow<py::dict>(g_module_dict);
}

const std::string& module_name() {
    return g_module_name;
}

py::object global(const char* name) {
    PyObject* found = PyDict_GetItemString(g_module_dict, name);  // borrowed
    if (found == nullptr) {
        PyObject* builtins = PyEval_GetBuiltins();  // borrowed
        found = builtins != nullptr ? PyDict_GetItemString(builtins, name) : nullptr;
    }
    if (found == nullptr) {
        PyErr_Format(PyExc_NameError, "name '%.200s' is not defined", name);
        throw py::error_already_set();
    }
    return py::reinterpret_borrow<py::object>(found);
}

void print_text(const py::object& text, const char* end, bool flush) {
    using namespace py::literals;
    global("print")(text, "end"_a = end, "flush"_a = flush);
}

py::object read_json_file(const py::handle& path) {
    py::object handle = global("open")(path, "r");
    py::object document;
    try {
        document = global("json").attr("load")(handle);
    } catch (py::error_already_set&) {
        try {
            handle.attr("close")();
        } catch (py::error_already_set&) {
            // The read or parse error is the one worth reporting.
        }
        throw;
    }
    handle.attr("close")();
    return document;
}

py::object make_function(const char* name, std::vector<Param> params, const char* doc, Body body) {
    auto signature = std::make_unique<FunctionSpec>();
    signature->name = name;
    signature->params = std::move(params);
    signature->body = std::move(body);
    return build_function(std::move(signature), doc, &trampoline);
}

py::object make_variadic_function(const char* name, std::vector<Param> params, const char* doc,
                                  VariadicBody body) {
    auto signature = std::make_unique<FunctionSpec>();
    signature->name = name;
    signature->params = std::move(params);
    signature->variadic = std::move(body);
    return build_function(std::move(signature), doc, &variadic_trampoline);
}

void raise_arg_count(const char* name, const char* qualifier, Py_ssize_t expected, Py_ssize_t given) {
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)", name,
                 qualifier, expected, expected == 1 ? "" : "s", given);
    throw py::error_already_set();
}

py::str to_str(const py::handle& value) {
    return py::str(value);
}

bool truthy(const py::handle& value) {
    const int result = PyObject_IsTrue(value.ptr());
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

bool is_bool(const py::handle& value) {
    return PyBool_Check(value.ptr());
}
bool is_int(const py::handle& value) {
    return PyLong_Check(value.ptr()) && !PyBool_Check(value.ptr());
}
bool is_float(const py::handle& value) {
    return PyFloat_Check(value.ptr());
}
bool is_list(const py::handle& value) {
    return PyList_Check(value.ptr());
}
bool is_dict(const py::handle& value) {
    return PyDict_Check(value.ptr());
}
bool is_str(const py::handle& value) {
    return PyUnicode_Check(value.ptr());
}

std::u32string to_u32(const py::handle& str) {
    PyObject* obj = str.ptr();
    if (!PyUnicode_Check(obj)) {
        raise(PyExc_TypeError, "expected str");
    }
    const Py_ssize_t length = PyUnicode_GET_LENGTH(obj);
    std::u32string out(static_cast<size_t>(length), U'\0');
    const int kind = PyUnicode_KIND(obj);
    const void* data = PyUnicode_DATA(obj);
    for (Py_ssize_t i = 0; i < length; ++i) {
        out[static_cast<size_t>(i)] = static_cast<char32_t>(PyUnicode_READ(kind, data, i));
    }
    return out;
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

void raise(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    throw py::error_already_set();
}

}  // namespace nvx
