// Rule changes of the Targets screen with their undo history: every change
// goes through the module's rule functions, and so do undo and redo, so the
// rule lists stay normalised and the configuration object sees the calls a
// user would make by hand.
#include "configure_neuvora/engine_use.hpp"
#include "key_tests.hpp"
#include "session.hpp"

namespace nvx::configure {
namespace {

py::object id_mode(const py::object& id) {
    return call_global("get_id_mode", id);
}
py::object type_mode(const py::object& type_name) {
    return call_global("get_name_mode", type_name);
}

std::u32string verb_of(const py::object& mode) {
    return to_u32(to_str(call_global("mode_verb", mode)));
}

std::u32string shown_text(const py::handle& value) {
    return to_u32(to_str(value));
}

// Moves one rule from the mode it has now to `mode` with the keys a user would
// press: the same mode key again takes a rule off, the other one sets it.
void put_back(bool by_type, const py::object& key, const py::object& mode) {
    const char* setter = by_type ? "set_module_name_mode" : "set_module_id_mode";
    const py::object now = by_type ? type_mode(key) : id_mode(key);
    if (equals(now, mode)) return;
    call_global(setter, key, mode.is_none() ? now : mode);
}

}  // namespace

py::object Session::perform(const RuleChange& change) {
    switch (change.action) {
        case RuleChange::Action::SetIdMode:
            return call_global("set_module_id_mode", change.argument, change.mode);
        case RuleChange::Action::SetTypeMode:
            return call_global("set_module_name_mode", change.argument, change.mode);
        case RuleChange::Action::Clear:
            break;
    }
    return call_global("clear_module_mode", change.argument);
}

std::int64_t Session::live_type_count(const py::object& type_name) {
    if (engine_may_stand_in()) return table().live_count(type_name);
    for (const py::handle rule : call_global("type_rule_entries", entries_)) {
        py::tuple fields = py::reinterpret_borrow<py::tuple>(rule);
        if (equals(fields[0], type_name)) return py::cast<std::int64_t>(fields[2]);
    }
    return 0;
}

py::object Session::change_rule(RuleChange::Action action, const py::object& entry, const py::object& mode) {
    const py::object id = entry["id"];
    const py::object type_name = entry["type_name"];
    const py::object id_before = id_mode(id);
    const py::object type_before =
        action == RuleChange::Action::SetIdMode ? py::none() : type_mode(type_name);
    // The class's count while its rule exists: before a change that may take it off.
    std::int64_t count = type_before.is_none() ? 0 : live_type_count(type_name);

    RuleChange change{action,
                      action == RuleChange::Action::Clear
                          ? entry
                          : (action == RuleChange::Action::SetIdMode ? id : type_name),
                      mode};
    py::object result = perform(change);

    py::object after = id_mode(id);
    if (!equals(after, id_before)) {
        change.key = id;
        change.before = id_before;
    } else if (action != RuleChange::Action::SetIdMode &&
               !equals(after = type_mode(type_name), type_before)) {
        change.by_type = true;
        change.key = type_name;
        change.before = type_before;
        if (!after.is_none()) count = live_type_count(type_name);
    } else {
        return result;  // nothing changed, nothing to undo
    }

    std::u32string target = shown_text(change.key);
    if (change.by_type) {
        target = U"every " + target + U" (" + shown_text(py::int_(count)) +
                 (count == 1 ? U" module)" : U" modules)");
    }
    change.text = after.is_none() ? U"clear " + verb_of(change.before) + U" on " + target
                                  : verb_of(after) + U" " + target;
    history_.record(std::move(change));
    return result;
}

void Session::undo_rule_change() {
    std::optional<RuleChange> change = history_.undo();
    if (!change) {
        status_message_ = py::str("nothing to undo");
        return;
    }
    put_back(change->by_type, change->key, change->before);
    status_message_ = from_u32(U"undid: " + change->text);
}

void Session::redo_rule_change() {
    std::optional<RuleChange> change = history_.redo();
    if (!change) {
        status_message_ = py::str("nothing to redo");
        return;
    }
    perform(*change);
    status_message_ = from_u32(U"redid: " + change->text);
}

}  // namespace nvx::configure
