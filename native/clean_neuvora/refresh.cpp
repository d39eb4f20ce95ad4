// The network walk that swaps every NVXLayer for a wrapper, in place.
#include "refresh.hpp"

#include "common/functions.hpp"
#include "common/interp.hpp"
#include "module_globals.hpp"
#include "pycall.hpp"

namespace nvx::clean {
namespace {

constexpr const char* kLayerClassName = "NVXLayer";

py::object configuration() {
    return module_global(Global::GNV).attr("pc");
}

bool extra_verbose() {
    return truthy(configuration().attr("get_extra_verbose")());
}

void say(const py::object& text) {
    module_global(Global::Print)(text);
}

// `a + b` with the interpreter's semantics (str concatenation here).
py::object plus(py::handle a, py::handle b) {
    return steal(PyNumber_Add(a.ptr(), b.ptr()));
}

py::object text(const char* utf8) {
    return from_utf8(utf8);
}

// The depth as "%d" formats it.
py::object decimal(py::handle depth) {
    if (PyLong_CheckExact(depth.ptr())) {
        return steal(PyObject_Str(depth.ptr()));
    }
    return steal(
        PyUnicode_Format(text("%d").ptr(), py::make_tuple(py::reinterpret_borrow<py::object>(depth)).ptr()));
}

py::object type_of(py::handle value) {
    return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(Py_TYPE(value.ptr())));
}

// `getattr(obj, name, None)`.
py::object get_attr_or_none(py::handle obj, py::handle name) {
    py::object value = attribute_if_present(obj.ptr(), name.ptr());
    return value ? value : py::none();
}

bool differs(py::handle a, py::handle b) {
    const int result = PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_NE);
    if (result < 0) {
        throw py::error_already_set();
    }
    return result != 0;
}

bool is_subclass(py::handle cls, py::handle bases) {
    const int result = PyObject_IsSubclass(cls.ptr(), bases.ptr());
    if (result < 0) {
        throw py::error_already_set();
    }
    return result != 0;
}

void set_attr(py::handle obj, py::handle name, py::handle value) {
    if (PyObject_SetAttr(obj.ptr(), name.ptr(), value.ptr()) < 0) {
        throw py::error_already_set();
    }
}

// `make_module(module)`: a new wrapper through the module's `ModuleType`.
py::object make_module(py::handle module) {
    return module_global(Global::ModuleType)(module);
}

// `get_pretrained_nvx_attr(pretrained_dendrite, member)`.
py::object pretrained_attr(py::handle pretrained, py::handle member) {
    if (pretrained.is_none()) return py::none();
    return py::getattr(pretrained, member);
}

// `get_pretrained_nvx_var(pretrained_dendrite, submodule_id)`.
py::object pretrained_var(py::handle pretrained, py::handle submodule_id) {
    if (pretrained.is_none()) return py::none();
    return pretrained.attr("get_submodule")(submodule_id);
}

py::object refresh_nvx(py::handle net, py::handle depth, py::handle name_so_far, py::handle converted);

py::object refresh(py::handle child, py::handle depth, py::handle sub_name, py::handle converted) {
    return refresh_nvx(child, plus(depth, py::int_(1)), sub_name, converted);
}

// A plain list of layers (a layer_array kept as a list): each element is walked
// and converted in place by index, like the children of a container.
void refresh_list_items(py::handle net, py::handle depth, py::handle name_so_far, py::handle converted) {
    for (Py_ssize_t i = 0;; ++i) {
        const Py_ssize_t size = PyObject_Size(net.ptr());
        if (size < 0) {
            throw py::error_already_set();
        }
        if (i >= size) {
            break;
        }
        py::object index = py::int_(i);
        if (differs(net, get_index(net, i))) {
            py::object sub_name =
                plus(plus(plus(name_so_far, text("[")), steal(PyObject_Str(index.ptr()))), text("]"));
            converted.attr("append")(sub_name);
            set_index(net, i, refresh(get_index(net, i), depth, sub_name, converted));
        }
        if (type_name_is(get_index(net, i), kLayerClassName)) {
            set_index(net, i, make_module(get_index(net, i)));
        }
    }
}

void refresh_children(py::handle net, py::handle depth, py::handle name_so_far, py::handle converted) {
    py::object children = net.attr("named_children")();
    py::object iterator = steal(PyObject_GetIter(children.ptr()));
    while (PyObject* raw = PyIter_Next(iterator.ptr())) {
        py::object item = py::reinterpret_steal<py::object>(raw);
        py::object submodule_id = item[py::int_(0)];
        py::object get_submodule = net.attr("get_submodule");
        if (differs(net, get_submodule(submodule_id))) {
            py::object sub_name =
                plus(plus(plus(name_so_far, text("[")), steal(PyObject_Str(submodule_id.ptr()))), text("]"));
            converted.attr("append")(sub_name);
            set_attr(net, submodule_id, refresh(get_submodule(submodule_id), depth, sub_name, converted));
        }
        if (type_name_is(net.attr("get_submodule")(submodule_id), kLayerClassName)) {
            set_attr(net, submodule_id, make_module(pretrained_var(net, submodule_id)));
        }
    }
    if (PyErr_Occurred() != nullptr) {
        throw py::error_already_set();
    }
}

// Returns false when `net` is a tracked class and must be left alone.
bool refresh_members(py::handle net, py::handle members, py::handle depth, py::handle name_so_far,
                     py::handle converted) {
    py::object pc = configuration();
    py::object net_type = type_of(net);
    if (contains(pc.attr("get_modules_to_track")(), net_type)) {
        return false;
    }
    py::object module_class = module_global(Global::Nn).attr("Module");
    py::object property_type =
        py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyProperty_Type));
    const bool at_top = nvx::equals(name_so_far, text(""));

    py::object iterator = steal(PyObject_GetIter(members.ptr()));
    while (PyObject* raw = PyIter_Next(iterator.ptr())) {
        py::object member = py::reinterpret_steal<py::object>(raw);
        if (py::isinstance(get_attr_or_none(net_type, member), property_type)) {
            continue;
        }
        py::object value;
        try {
            value = get_attr_or_none(net, member);
        } catch (py::error_already_set& error) {
            if (!error.matches(PyExc_Exception)) {
                throw;
            }
            continue;
        }
        py::object sub_name = plus(plus(name_so_far, text(".")), member);
        if (nvx::equals(member, text("device")) || nvx::equals(member, text("dtype"))) {
            continue;
        }
        if (contains(configuration().attr("get_module_names_to_not_save")(), sub_name)) {
            continue;
        }
        if (at_top && contains(converted, sub_name)) {
            if (extra_verbose()) {
                say(steal(
                    PyUnicode_Format(text("Skipping %s during save").ptr(), py::make_tuple(sub_name).ptr())));
            }
            continue;
        }
        if (is_subclass(type_of(value), module_class) || nvx::equals(member, text("layer_array"))) {
            converted.attr("append")(sub_name);
            if (differs(net, py::getattr(net, member))) {
                set_attr(net, member, refresh(py::getattr(net, member), depth, sub_name, converted));
            }
        }
        if (type_name_is(get_attr_or_none(net, member), kLayerClassName)) {
            set_attr(net, member, make_module(pretrained_attr(net, member)));
        }
    }
    if (PyErr_Occurred() != nullptr) {
        throw py::error_already_set();
    }
    return true;
}

py::object refresh_nvx(py::handle net, py::handle depth, py::handle name_so_far, py::handle converted) {
    if (extra_verbose()) {
        py::object depth_text = decimal(depth);
        say(plus(plus(plus(text("CL calling convert on "), to_str(net)), text(" depth ")), depth_text));
        py::object class_name = type_of(net).attr("__name__");
        say(plus(plus(plus(plus(plus(text("CL calling convert on "), name_so_far), text(": ")), class_name),
                      text(", depth ")),
                 depth_text));
    }
    if (type_of(net).is(module_global(Global::ModuleType))) {
        if (extra_verbose()) {
            say(
                text("this is only being called because something in your model is pointed to "
                     "twice by two different variables.  Highest thing on the list is one of the "
                     "duplicates"));
        }
        return py::reinterpret_borrow<py::object>(net);
    }
    py::object members = net.attr("__dir__")();

    py::object nn = module_global(Global::Nn);
    py::object containers =
        py::make_tuple(nn.attr("Sequential"), nn.attr("ModuleList"),
                       py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyList_Type)));
    if (is_subclass(type_of(net), containers)) {
        if (PyList_Check(net.ptr()) && !attribute_if_present(net, py::str("named_children").ptr())) {
            refresh_list_items(net, depth, name_so_far, converted);
        } else {
            refresh_children(net, depth, name_so_far, converted);
        }
    } else if (!refresh_members(net, members, depth, name_so_far, converted)) {
        return py::reinterpret_borrow<py::object>(net);
    }

    if (type_name_is(net, kLayerClassName)) {
        return make_module(net);
    }
    return py::reinterpret_borrow<py::object>(net);
}

}  // namespace

void register_refresh(py::module_& m) {
    def(m, "refresh_net", {"pretrained_dendrite"}, nullptr,
        [](Args& a) { return refresh_nvx(a[0], py::int_(0), from_utf8(""), py::list()); });
    def(m, "refresh_nvx", {"net", "depth", "name_so_far", "converted_list"}, nullptr,
        [](Args& a) { return refresh_nvx(a[0], a[1], a[2], a[3]); });
    def(m, "make_module", {"module"}, nullptr, [](Args& a) { return make_module(a[0]); });
    def(m, "get_pretrained_nvx_attr", {"pretrained_dendrite", "member"}, nullptr,
        [](Args& a) { return pretrained_attr(a[0], a[1]); });
    def(m, "get_pretrained_nvx_var", {"pretrained_dendrite", "submodule_id"}, nullptr,
        [](Args& a) { return pretrained_var(a[0], a[1]); });
}

}  // namespace nvx::clean
