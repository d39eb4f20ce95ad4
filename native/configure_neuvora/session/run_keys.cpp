// Keys of the Run settings screen: movement past dividers, paging, buckets,
// descriptions, toggling booleans, cycling enums and opening the editors.
#include "key_tests.hpp"
#include "session.hpp"

namespace nvx::configure {
namespace {

bool is_type(const py::handle& item, const char* type) {
    return equals(item["type"], py::str(type));
}

}  // namespace

void Session::handle_run_key(const py::object& key) {
    using namespace py::literals;
    using keys::is;
    using keys::test;
    py::list items = call_global("build_run_items", expanded_buckets_);
    const auto count = static_cast<Py_ssize_t>(py::len(items));
    if (count == 0) return;
    if (run_selected_index_ >= count) run_selected_index_ = count - 1;
    py::object item = items[run_selected_index_];

    const bool up = test("is_up_key", key);
    if (up || test("is_down_key", key)) {
        const Py_ssize_t step = up ? -1 : 1;
        run_selected_index_ = keys::moved(run_selected_index_, step, count);
        while (run_selected_index_ > 0 && run_selected_index_ < count - 1 &&
               is_type(items[run_selected_index_], "divider")) {
            run_selected_index_ = keys::moved(run_selected_index_, step, count);
        }
        describe_name_ = py::str("");
    } else if (nvx::keys::is_home(keys::text_of(key)) || nvx::keys::is_end(keys::text_of(key))) {
        // The first or last row, stepping inward off a divider like the other moves.
        const bool home = nvx::keys::is_home(keys::text_of(key));
        const Py_ssize_t step = home ? 1 : -1;
        Py_ssize_t index = home ? 0 : count - 1;
        while (is_type(items[index], "divider") && index + step >= 0 && index + step < count) index += step;
        run_selected_index_ = index;
        describe_name_ = py::str("");
    } else if (test("is_page_up_key", key)) {
        run_selected_index_ = keys::moved(run_selected_index_, -10, count);
    } else if (test("is_page_down_key", key)) {
        run_selected_index_ = keys::moved(run_selected_index_, 10, count);
    } else if (test("is_right_key", key)) {
        if (is_type(item, "bucket")) expanded_buckets_[item["bucket"]] = true;
    } else if (test("is_left_key", key)) {
        expanded_buckets_[item["bucket"]] = false;
        if (!is_type(item, "bucket")) {
            for (Py_ssize_t idx = 0; idx < count; ++idx) {
                py::object candidate = items[idx];
                if (is_type(candidate, "bucket") && equals(candidate["bucket"], item["bucket"])) {
                    run_selected_index_ = idx;
                    break;
                }
            }
        }
    } else if (is(key, "h") && is_type(item, "setting")) {
        describe_name_ = equals(describe_name_, item["name"]) ? py::str("") : py::str(item["name"]);
    } else if (test("is_enter_key", key)) {
        describe_name_ = py::str("");
        if (is_type(item, "bucket")) {
            expanded_buckets_[item["bucket"]] = py::bool_(!truthy(item["is_expanded"]));
        } else if (is_type(item, "setting")) {
            py::object name = item["name"];
            py::object value = item["value"];
            if (is_bool(value)) {
                py::tuple outcome = call_global("apply_setting_value", name, py::bool_(!truthy(value)));
                status_message_ = py::str(outcome[1]);
            } else if (!call_global("get_enum_options", name).is_none()) {
                py::tuple outcome = call_global("cycle_enum_setting", name, value);
                status_message_ = py::str(outcome[1]);
            } else if (PyList_Check(value.ptr())) {
                list_editor_state_ = call_global("_new_list_editor", name, value, "scope_key"_a = py::none());
            } else if (PyLong_Check(value.ptr()) || PyFloat_Check(value.ptr())) {
                scalar_editor_state_ =
                    call_global("_new_scalar_editor", name, value, "scope_key"_a = py::none());
            } else {
                status_message_ = to_str(name) + py::str(" cannot be edited from this screen.");
            }
        }
    }
}

}  // namespace nvx::configure
