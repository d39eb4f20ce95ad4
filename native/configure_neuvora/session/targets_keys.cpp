// Keys of the Targets screen: movement, expanding replaced roots, id and type
// rules, clearing, undo and redo of rule changes, the next module that needs a
// mode, and the type-rules, legend and overrides overlays.
#include "key_tests.hpp"
#include "session.hpp"

namespace nvx::configure {
namespace {

const char* const kRedoKey = "\x12";  // Ctrl-R

}  // namespace

void Session::handle_targets_key(const py::object& key) {
    using keys::is;
    using keys::test;
    Py_ssize_t count = 0;
    py::object entry = selected_target(count);
    if (count == 0) return;

    if (test("is_up_key", key)) {
        target_selected_index_ = keys::moved(target_selected_index_, -1, count);
    } else if (test("is_down_key", key)) {
        target_selected_index_ = keys::moved(target_selected_index_, 1, count);
    } else if (test("is_page_up_key", key)) {
        target_selected_index_ = keys::moved(target_selected_index_, -10, count);
    } else if (test("is_page_down_key", key)) {
        target_selected_index_ = keys::moved(target_selected_index_, 10, count);
    } else if (is(key, "y")) {
        overlay_ = "typerules";
    } else if (is(key, "h")) {
        overlay_ = "legend";
    } else if (test("is_right_key", key) || test("is_left_key", key)) {
        if (truthy(entry["is_replaced_root"])) {
            expanded_replaced_[entry["id"]] = py::bool_(test("is_right_key", key));
        }
    } else if (is(key, "p") || is(key, "t")) {
        if (truthy(entry["is_replaced_root"]) || truthy(entry["in_replaced"])) {
            status_message_ = to_str(entry["id"]) +
                              from_utf8(
                                  " is inside a module that will be restructured \u2014 its id won't exist "
                                  "at training time. Use P/T to target by type instead.");
        } else {
            change_rule(RuleChange::Action::SetIdMode, entry,
                        py::str(is(key, "p") ? "dendrified" : "tracked"));
        }
    } else if (is(key, "P") || is(key, "T")) {
        if (truthy(entry["is_replaced_root"])) {
            status_message_ = py::str(
                "Set a mode on this module's children by type, not on the container that will be "
                "restructured.");
        } else {
            change_rule(RuleChange::Action::SetTypeMode, entry,
                        py::str(is(key, "P") ? "dendrified" : "tracked"));
        }
    } else if (is(key, "x")) {
        status_message_ = py::str(change_rule(RuleChange::Action::Clear, entry, py::none()));
    } else if (test("is_enter_key", key)) {
        py::tuple outcome = call_global("get_override_scope_for_entry", entry, resolved());
        if (outcome[0].is_none()) {
            status_message_ = py::str(outcome[1]);
        } else {
            ov_scope_ = outcome[0];
            ov_selected_index_ = 0;
            describe_name_ = py::str("");
            overlay_ = "overrides";
        }
    } else if (is(key, "u")) {
        undo_rule_change();
    } else if (is(key, kRedoKey)) {
        redo_rule_change();
    } else if (is(key, "!")) {
        select_next_unset();
    } else if (is(key, "/")) {
        open_search();
    } else if (is(key, "n") || is(key, "N")) {
        search_again(is(key, "n") ? 1 : -1);
    } else if (nvx::keys::is_home(keys::text_of(key))) {
        target_selected_index_ = 0;
    } else if (nvx::keys::is_end(keys::text_of(key))) {
        target_selected_index_ = count - 1;
    }
}

}  // namespace nvx::configure
