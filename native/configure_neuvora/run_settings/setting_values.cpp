#include "setting_values.hpp"

#include <array>

#include "common/interp.hpp"
#include "common/module_namespace.hpp"

namespace nvx::configure {
namespace {

// getattr(obj, name, None): only an AttributeError means "absent".
py::object getattr_or_none(const py::handle& obj, const py::handle& name) {
    py::object found = attribute_if_present(obj.ptr(), name.ptr());
    return found ? found : py::none();
}

bool is_callable(const py::handle& value) {
    return PyCallable_Check(value.ptr()) != 0;
}

py::object config_object() {
    return global("GNV").attr("pc");
}

// Index of the first option equal to `value` (list.index order of comparison), or -1.
Py_ssize_t index_of(const py::list& options, const py::handle& value) {
    const Py_ssize_t count = static_cast<Py_ssize_t>(options.size());
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (equals(options[static_cast<size_t>(i)], value)) return i;
    }
    return -1;
}

py::tuple result(bool ok, const py::str& message) {
    return py::make_tuple(py::bool_(ok), message);
}

bool is_one_of(const std::u32string& text, std::initializer_list<const char32_t*> words) {
    for (const char32_t* word : words) {
        if (text == word) return true;
    }
    return false;
}

}  // namespace

py::object get_global_setting_value(const py::handle& setting_name) {
    py::object pc = config_object();
    py::object getter = getattr_or_none(pc, py::str("get_") + setting_name);
    if (!getter.is_none()) {
        try {
            return getter();
        } catch (py::error_already_set& e) {
            if (!e.matches(PyExc_Exception)) throw;
            return from_u32(kUnavailable);
        }
    }
    py::object attribute = attribute_if_present(pc.ptr(), setting_name.ptr());
    if (attribute && !is_callable(attribute)) return attribute;
    return from_u32(kUnavailable);
}

py::dict get_all_global_parameters() {
    py::object record = call_global("load_description_data");
    py::object order = record["bucket_order"];
    py::object by_bucket = record["settings_by_bucket"];
    py::list names;
    for (py::handle bucket : order) {
        if (!contains(by_bucket, bucket)) continue;
        for (py::handle name : py::object(by_bucket[bucket])) names.append(name);
    }
    py::object runtime_only = global("RUNTIME_ONLY_CONFIG_KEYS");
    py::dict values;
    for (py::handle name : names) {
        if (contains(runtime_only, name)) continue;
        values[name] = call_global("get_global_setting_value", name);
    }
    return values;
}

py::object format_setting_value(const py::handle& value) {
    if (value.is_none()) return py::str("None");
    py::object text;
    if (is_callable(value)) {
        text = global("GNV").attr("callable_config_repr")(value);
    } else if (is_str(value)) {
        text = py::reinterpret_borrow<py::object>(value);
    } else {
        text = to_str(value);
    }
    constexpr auto keep = static_cast<Py_ssize_t>(kMaxDisplayLength - 3);
    if (is_str(text)) {
        if (PyUnicode_GET_LENGTH(text.ptr()) <= static_cast<Py_ssize_t>(kMaxDisplayLength)) return text;
        PyObject* head = PyUnicode_Substring(text.ptr(), 0, keep);
        if (head == nullptr) throw py::error_already_set();
        return py::reinterpret_steal<py::object>(head) + py::str("...");
    }
    // A display text of another type is cut the way the interpreter would.
    if (py::len(text) <= kMaxDisplayLength) return text;
    return py::object(text[py::slice(0, keep, 1)]) + py::str("...");
}

py::object format_run_setting_value(const py::handle& setting_name, const py::handle& value) {
    if (equals(setting_name, py::str("switch_mode"))) {
        const Py_ssize_t position = index_of(switch_mode_values(), value);
        py::object names = global("SWITCH_MODE_NAMES");
        if (position >= 0 && position < static_cast<Py_ssize_t>(py::len(names))) {
            return names[py::int_(position)];
        }
        return to_str(value);
    }
    if (equals(setting_name, py::str("nvx_forward_function"))) {
        py::object name = getattr_or_none(value, py::str("__name__"));
        if (contains(global("FORWARD_FUNCTION_NAMES"), name)) return name;
    }
    return format_setting_value(value);
}

py::list switch_mode_values() {
    py::object pc = config_object();
    py::list values;
    for (const char* name :
         {"DOING_SWITCH_EVERY_TIME", "DOING_HISTORY", "DOING_FIXED_SWITCH", "DOING_NO_SWITCH"}) {
        values.append(pc.attr(name));
    }
    return values;
}

py::object get_enum_options(const py::handle& setting_name) {
    if (equals(setting_name, py::str("switch_mode"))) return switch_mode_values();
    if (equals(setting_name, py::str("nvx_forward_function"))) {
        PyObject* copy = PySequence_List(global("FORWARD_FUNCTION_NAMES").ptr());
        if (copy == nullptr) throw py::error_already_set();
        return py::reinterpret_steal<py::object>(copy);
    }
    return py::none();
}

py::object cycle_enum_setting(const py::handle& setting_name, const py::handle& current_value) {
    py::object found = get_enum_options(setting_name);
    if (found.is_none() || !truthy(found)) {
        return result(false, from_u32(to_u32(to_str(setting_name)) + U" is not an enum setting."));
    }
    py::list options = py::reinterpret_borrow<py::list>(found);
    const Py_ssize_t count = static_cast<Py_ssize_t>(options.size());
    py::object next_value;
    if (equals(setting_name, py::str("nvx_forward_function"))) {
        py::object current_name = getattr_or_none(current_value, py::str("__name__"));
        const Py_ssize_t position = index_of(options, current_name);
        py::object next_name = options[static_cast<size_t>((position + 1) % count)];
        py::object torch = global("torch");
        next_value = torch.is_none() ? next_name : torch.attr(next_name);
    } else {
        const Py_ssize_t position = index_of(options, current_value);
        next_value = options[static_cast<size_t>((position + 1) % count)];
    }
    return call_global("apply_setting_value", setting_name, next_value);
}

py::tuple apply_setting_value(const py::handle& setting_name, const py::handle& value) {
    py::object pc = config_object();
    py::object setter = getattr_or_none(pc, py::str("set_") + setting_name);
    if (!setter.is_none()) {
        setter(value);
        return result(true, py::str(""));
    }
    py::object attribute = attribute_if_present(pc.ptr(), setting_name.ptr());
    if (attribute && !is_callable(attribute)) {
        if (PyObject_SetAttr(pc.ptr(), setting_name.ptr(), value.ptr()) < 0) throw py::error_already_set();
        return result(true, py::str(""));
    }
    return result(false, from_u32(U"Setting " + to_u32(to_str(setting_name)) + U" is not editable."));
}

py::object parse_value_from_text(const py::handle& text, const py::handle& sample_value) {
    if (is_bool(sample_value)) {
        py::object lowered = text.attr("strip")().attr("lower")();
        if (is_str(lowered)) {
            const std::u32string word = to_u32(lowered);
            if (is_one_of(word, {U"1", U"true", U"t", U"yes", U"y", U"on"})) return py::bool_(true);
            if (is_one_of(word, {U"0", U"false", U"f", U"no", U"n", U"off"})) return py::bool_(false);
        }
        raise(PyExc_ValueError, "Expected boolean value (true/false).");
    }
    // The interpreter's own int() and float() give exactly its accepted forms
    // (signs, underscores, exponents, infinities, not-a-number) and its errors.
    if (is_int(sample_value)) {
        return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyLong_Type))(
            text.attr("strip")());
    }
    if (is_float(sample_value)) {
        return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyFloat_Type))(
            text.attr("strip")());
    }
    return py::reinterpret_borrow<py::object>(text);
}

}  // namespace nvx::configure
