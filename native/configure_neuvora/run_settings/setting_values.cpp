#include "setting_values.hpp"

#include "common/interp.hpp"
#include "configure_neuvora/seams.hpp"
#include "core/settings/setting_names.hpp"
#include "core/settings/value.hpp"
#include "value_bridge.hpp"

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

py::object unavailable() {
    return from_u32(settings::kUnavailable);
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

Py_ssize_t option_index(const py::list& options, const py::handle& value) {
    const Py_ssize_t count = static_cast<Py_ssize_t>(options.size());
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (equals(options[static_cast<size_t>(i)], value)) return i;
    }
    return -1;
}

py::object get_global_setting_value(const py::handle& setting_name) {
    py::object pc = configuration();
    py::object getter = getattr_or_none(pc, py::str("get_") + setting_name);
    if (!getter.is_none()) {
        try {
            return getter();
        } catch (py::error_already_set& e) {
            if (!e.matches(PyExc_Exception)) throw;
            return unavailable();
        }
    }
    py::object attribute = attribute_if_present(pc.ptr(), setting_name.ptr());
    if (attribute && !is_callable(attribute)) return attribute;
    return unavailable();
}

py::dict get_all_global_parameters() {
    py::object record = call_seam(Seam::LoadDescriptionData);
    py::object order = record["bucket_order"];
    py::object by_bucket = record["settings_by_bucket"];
    py::list names;
    for (py::handle bucket : order) {
        if (!contains(by_bucket, bucket)) continue;
        for (py::handle name : py::object(by_bucket[bucket])) names.append(name);
    }
    const py::str runtime_only = from_u32(settings::kRuntimeOnlySetting);
    py::dict values;
    for (py::handle name : names) {
        if (is_str(name) && equals(name, runtime_only)) continue;
        values[name] = call_seam(Seam::GetGlobalSettingValue, name);
    }
    return values;
}

py::object format_setting_value(const py::handle& value) {
    if (value.is_none()) return py::str("None");
    py::object text;
    if (is_callable(value)) {
        text = seam(Seam::GNV).attr("callable_config_repr")(value);
    } else if (is_str(value)) {
        text = py::reinterpret_borrow<py::object>(value);
    } else {
        text = to_str(value);
    }
    constexpr auto longest = static_cast<Py_ssize_t>(settings::kMaxDisplayLength);
    constexpr Py_ssize_t keep = longest - 3;
    if (is_str(text)) {
        if (PyUnicode_GET_LENGTH(text.ptr()) <= longest) return text;
        PyObject* head = PyUnicode_Substring(text.ptr(), 0, keep);
        if (head == nullptr) throw py::error_already_set();
        return py::reinterpret_steal<py::object>(head) + py::str("...");
    }
    // A display text of another type is cut the way the interpreter would.
    if (static_cast<Py_ssize_t>(py::len(text)) <= longest) return text;
    return py::object(text[py::slice(0, keep, 1)]) + py::str("...");
}

py::object format_run_setting_value(const py::handle& setting_name, const py::handle& value) {
    if (equals(setting_name, py::str("switch_mode"))) {
        const Py_ssize_t position = option_index(switch_mode_values(), value);
        if (position >= 0 && position < static_cast<Py_ssize_t>(settings::kSwitchModeNames.size())) {
            return from_u32(settings::kSwitchModeNames[static_cast<std::size_t>(position)]);
        }
        return to_str(value);
    }
    if (equals(setting_name, py::str("nvx_forward_function"))) {
        py::object name = getattr_or_none(value, py::str("__name__"));
        if (contains(to_text_list(settings::kForwardFunctionNames), name)) return name;
    }
    return format_setting_value(value);
}

py::list switch_mode_values() {
    py::object pc = configuration();
    py::list values;
    for (const std::u32string& name : settings::kSwitchModeNames) values.append(pc.attr(from_u32(name)));
    return values;
}

py::object get_enum_options(const py::handle& setting_name) {
    if (equals(setting_name, py::str("switch_mode"))) return switch_mode_values();
    if (equals(setting_name, py::str("nvx_forward_function")))
        return to_text_list(settings::kForwardFunctionNames);
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
        const Py_ssize_t position = option_index(options, current_name);
        py::object next_name = options[static_cast<size_t>((position + 1) % count)];
        py::object torch = seam(Seam::Torch);
        next_value = torch.is_none() ? next_name : torch.attr(next_name);
    } else {
        const Py_ssize_t position = option_index(options, current_value);
        next_value = options[static_cast<size_t>((position + 1) % count)];
    }
    return apply_setting_value(setting_name, next_value);
}

py::tuple apply_setting_value(const py::handle& setting_name, const py::handle& value) {
    py::object pc = configuration();
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
