// Keys of the overlays. An open overlay takes every key; keys it does not use
// are ignored and never reach the screens.
#include <algorithm>

#include "core/screens/save_text.hpp"
#include "key_tests.hpp"
#include "session.hpp"

namespace nvx::configure {

void Session::handle_overlay_key(const py::object& key) {
    using namespace py::literals;
    using keys::is;
    using keys::test;

    // Keys an overlay does not use scroll a page taller than the terminal.
    if (overlay_ == "help") {
        if (is(key, "?") || keys::is_escape(key)) {
            overlay_.clear();
        } else {
            scroll_page(key, page_first_row_);
        }
    } else if (overlay_ == "legend") {
        if (is(key, "h") || keys::is_escape(key)) {
            overlay_.clear();
        } else {
            scroll_page(key, page_first_row_);
        }
    } else if (overlay_ == "quit") {
        if (is(key, "y") || is(key, "Y")) {
            request_quit();
        } else if (is(key, "n") || is(key, "N") || keys::is_escape(key)) {
            overlay_.clear();
        } else {
            scroll_page(key, page_first_row_);
        }
    } else if (overlay_ == "typerules") {
        if (is(key, "y") || is(key, "Y") || keys::is_escape(key)) {
            overlay_.clear();
        } else if (keys::lower_is(key, "s")) {
            overlay_ = "save";
            save_selected_index_ = 0;
        } else {
            scroll_page(key, type_rules_first_);
        }
    } else if (overlay_ == "save") {
        // The options the overlay shows, from the list it is drawn from.
        const std::size_t unset = resolved_natively_
                                      ? table().unset_rows().size()
                                      : py::len(call_global("unset_module_entries", entries_, resolved()));
        const std::vector<overlays::SaveOption> choices = overlays::save_options(unset, U"");
        const auto options = static_cast<Py_ssize_t>(choices.size());
        if (test("is_up_key", key)) {
            save_selected_index_ = keys::moved(save_selected_index_, -1, options);
        } else if (test("is_down_key", key)) {
            save_selected_index_ = keys::moved(save_selected_index_, 1, options);
        } else if (keys::is_escape(key) || is(key, "x")) {
            overlay_.clear();
        } else if (nvx::keys::is_home(keys::text_of(key))) {
            save_selected_index_ = 0;
        } else if (nvx::keys::is_end(keys::text_of(key))) {
            save_selected_index_ = options - 1;
        } else if (test("is_enter_key", key)) {
            const overlays::SaveChoice choice = choices[static_cast<std::size_t>(std::clamp<Py_ssize_t>(
                                                            save_selected_index_, 0, options - 1))]
                                                    .choice;
            if (choice == overlays::SaveChoice::KeepEditing) {
                overlay_.clear();
            } else if (choice == overlays::SaveChoice::AsDefault) {
                global("GNV").attr("pc").attr("set_configuration_confirmed")(true);
                finalize_save(1);
                finish();
            } else {
                finalize_save(0);
                global("GNV").attr("pc").attr("set_configuration_confirmed")(true);
                finish();
            }
        }
    } else if (overlay_ == "overrides") {
        py::list names = global("CUSTOMIZABLE_SETTING_NAMES");
        const auto count = static_cast<Py_ssize_t>(py::len(names));
        if (keys::is_escape(key) || is(key, "x")) {
            overlay_.clear();
            describe_name_ = py::str("");
        } else if (test("is_up_key", key)) {
            ov_selected_index_ = keys::moved(ov_selected_index_, -1, count);
            describe_name_ = py::str("");
        } else if (test("is_down_key", key)) {
            ov_selected_index_ = keys::moved(ov_selected_index_, 1, count);
            describe_name_ = py::str("");
        } else if (nvx::keys::is_home(keys::text_of(key)) || nvx::keys::is_end(keys::text_of(key))) {
            ov_selected_index_ =
                nvx::keys::is_home(keys::text_of(key)) ? 0 : std::max<Py_ssize_t>(0, count - 1);
            describe_name_ = py::str("");
        } else if (is(key, "h") && count > 0) {
            py::object name = names[ov_selected_index_];
            describe_name_ = equals(describe_name_, name) ? py::str("") : py::str(name);
        } else if (test("is_enter_key", key) && count > 0) {
            edit_override(names[ov_selected_index_]);
        } else if ((keys::is_backspace(key) || test("is_delete_key", key)) && count > 0) {
            remove_override(names[ov_selected_index_]);
        } else if (keys::lower_is(key, "s")) {
            overlay_ = "save";
            save_selected_index_ = 0;
        }
    }
}

void Session::edit_override(const py::object& name) {
    using namespace py::literals;
    py::object scope_key = ov_scope_["scope_key"];
    py::object scoped =
        call_global("get_scope_values", scope_key, module_settings_overrides_, existing_module_settings_);
    py::object current =
        scoped.contains(name) ? py::object(scoped[name]) : call_global("get_global_setting_value", name);
    if (is_bool(current)) {
        call_global("set_module_scoped_value", module_settings_overrides_, scope_key, name,
                    py::bool_(!truthy(current)));
    } else if (!call_global("get_enum_options", name).is_none()) {
        py::object options = call_global("get_enum_options", name);
        const auto count = static_cast<Py_ssize_t>(py::len(options));
        Py_ssize_t index = -1;
        for (Py_ssize_t i = 0; i < count; ++i) {
            if (equals(options[py::int_(i)], current)) {
                index = i;
                break;
            }
        }
        call_global("set_module_scoped_value", module_settings_overrides_, scope_key, name,
                    options[py::int_((index + 1) % count)]);
    } else if (PyList_Check(current.ptr())) {
        list_editor_state_ = call_global("_new_list_editor", name, current, "scope_key"_a = scope_key);
    } else if (PyLong_Check(current.ptr()) || PyFloat_Check(current.ptr())) {
        scalar_editor_state_ = call_global("_new_scalar_editor", name, current, "scope_key"_a = scope_key);
    } else {
        status_message_ = to_str(name) + py::str(" cannot be edited here.");
        notice_ = status_message_;
    }
}

}  // namespace nvx::configure
