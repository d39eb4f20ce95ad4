#include "pyutil.hpp"

#include "common/glue.hpp"

namespace nvx::target {
namespace {

const char* getter_name(RuleList which) {
    switch (which) {
        case RuleList::IdsToDendrify:
            return "get_module_ids_to_dendrify";
        case RuleList::IdsToTrack:
            return "get_module_ids_to_track";
        case RuleList::NamesToDendrify:
            return "get_module_names_to_dendrify";
        case RuleList::NamesToTrack:
            return "get_module_names_to_track";
    }
    return "";
}

const char* setter_name(RuleList which) {
    switch (which) {
        case RuleList::IdsToDendrify:
            return "set_module_ids_to_dendrify";
        case RuleList::IdsToTrack:
            return "set_module_ids_to_track";
        case RuleList::NamesToDendrify:
            return "set_module_names_to_dendrify";
        case RuleList::NamesToTrack:
            return "set_module_names_to_track";
    }
    return "";
}

}  // namespace

const Names& names() {
    static const Names table = [] {
        Names n{};
        n.id = intern("id");
        n.name = intern("name");
        n.type_name = intern("type_name");
        n.module = intern("module");
        n.depth = intern("depth");
        n.direct_param_count = intern("direct_param_count");
        n.tree_param_count = intern("tree_param_count");
        n.is_replaced_root = intern("is_replaced_root");
        n.replaced_root = intern("replaced_root");
        n.in_replaced = intern("in_replaced");
        n.eff = intern("eff");
        n.source = intern("source");
        n.origin_id = intern("origin_id");
        n.overridden = intern("overridden");
        n.mode = intern("mode");
        n.dendrified = intern("dendrified");
        n.tracked = intern("tracked");
        n.inherited = intern("inherited");
        n.id_source = n.id;
        n.type_source = intern("type");
        n.dot = intern(".");
        n.empty = intern("");
        n.numel = intern("numel");
        n.recurse = intern("recurse");
        n.remove_duplicate = intern("remove_duplicate");
        n.named_modules = intern("named_modules");
        n.named_parameters = intern("named_parameters");
        n.named_members = intern("_named_members");
        n.modules_attr = intern("_modules");
        n.parameters_attr = intern("_parameters");
        n.getattribute = intern("__getattribute__");
        n.hash = intern("__hash__");
        n.dunder_name = intern("__name__");
        return n;
    }();
    return table;
}

py::object get_item(PyObject* container, PyObject* key) {
    if (PyDict_CheckExact(container)) {
        PyObject* found = PyDict_GetItemWithError(container, key);  // borrowed
        if (found != nullptr) {
            return borrow(found);
        }
        if (PyErr_Occurred()) {
            throw py::error_already_set();
        }
        // The interpreter's KeyError carries the key itself as its argument.
        PyObject* error_arg = PyTuple_Pack(1, key);
        if (error_arg == nullptr) {
            throw py::error_already_set();
        }
        PyErr_SetObject(PyExc_KeyError, error_arg);
        Py_DECREF(error_arg);
        throw py::error_already_set();
    }
    return steal(PyObject_GetItem(container, key));
}

namespace {

bool compare(PyObject* a, PyObject* b, int op) {
    if (PyUnicode_CheckExact(a) && PyUnicode_CheckExact(b)) {
        return (PyUnicode_Compare(a, b) == 0) == (op == Py_EQ);
    }
    py::object result = steal(PyObject_RichCompare(a, b, op));
    return py_truthy(result.ptr());
}

}  // namespace

bool py_eq(PyObject* a, PyObject* b) {
    return compare(a, b, Py_EQ);
}

bool py_ne(PyObject* a, PyObject* b) {
    return compare(a, b, Py_NE);
}

bool py_truthy(PyObject* value) {
    if (value == Py_True) return true;
    if (value == Py_False || value == Py_None) return false;
    const int result = PyObject_IsTrue(value);
    if (result < 0) {
        throw py::error_already_set();
    }
    return result != 0;
}

py::object fetch_rule_list(RuleList which) {
    py::object config = global("GNV").attr("pc");
    return config.attr(getter_name(which))();
}

void store_rule_list(RuleList which, const py::object& values) {
    py::object config = global("GNV").attr("pc");
    config.attr(setter_name(which))(values);
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

py::object iterate_named_parameters(PyObject* method, bool recurse) {
    py::dict kwargs;
    kwargs[names().recurse] = py::bool_(recurse);
    py::object pairs = steal(PyObject_Call(method, py::tuple().ptr(), kwargs.ptr()));
    return steal(PyObject_GetIter(pairs.ptr()));
}

py::object torch_attribute(std::initializer_list<PyObject*> path) {
    py::object value = global("torch");
    if (value.is_none()) return py::object();
    for (PyObject* name : path) {
        value = attribute_if_present(value.ptr(), name);
        if (!value) return value;
    }
    return value;
}

py::object numel_of(PyObject* parameter) {
    PyObject* stack[] = {parameter};
    return steal(
        PyObject_VectorcallMethod(names().numel, stack, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
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

}  // namespace nvx::target
