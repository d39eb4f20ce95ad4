// Python face of the rule edits and of the two queries the Targets screen
// shows: each function reads its arguments into the target model's values and
// runs the model's rule.
#include "common/functions.hpp"
#include "common/interp.hpp"
#include "config_rules.hpp"
#include "configure_neuvora/registry.hpp"
#include "core/model/queries.hpp"
#include "entry_reader.hpp"
#include "names.hpp"
#include "records.hpp"

namespace nvx::configure {
namespace {

using model::Field;

void set_mode(const py::object& name, const py::object& mode, bool by_id) {
    target::ObjectPool pool;
    target::ConfigRules rules(pool);
    const model::Name key = target::read_name(name.ptr(), pool, true);
    const model::ModeArgument argument = target::mode_argument(mode);
    if (by_id) {
        model::set_id_mode(rules, key, argument, rules.oracle());
    } else {
        model::set_name_mode(rules, key, argument, rules.oracle());
    }
}

py::object clear_module_mode(const py::object& entry) {
    const target::Names& n = target::names();
    py::object id = get_item(entry, n.id);
    py::object type_name = get_item(entry, n.type_name);
    target::ObjectPool pool;
    target::ConfigRules rules(pool);
    const model::Name id_name = target::read_name(id.ptr(), pool, true);
    const model::Name class_name = target::read_name(type_name.ptr(), pool, true);
    const model::Cleared cleared = model::clear_rules(rules, id_name, class_name, rules.oracle());
    const py::object& named = cleared == model::Cleared::Id ? id : type_name;
    const model::Name& name = cleared == model::Cleared::Id ? id_name : class_name;
    if (cleared == model::Cleared::Nothing || name.is_text()) {
        return from_u32(model::cleared_text(cleared, model::decode_utf8(name.text)));
    }
    // Text of a class of its own, or no text at all: joined as the interpreter joins it.
    if (cleared == model::Cleared::Id) return steal(PyNumber_Add(py::str("cleared ").ptr(), named.ptr()));
    py::object head = steal(PyNumber_Add(py::str("cleared the ").ptr(), named.ptr()));
    return steal(PyNumber_Add(head.ptr(), py::str(" type rule").ptr()));
}

py::list type_rule_entries(const py::object& entries) {
    GcPause pause;
    target::EntryReader reader(entries);
    reader.load({Field::InReplaced, Field::TypeName});
    target::ConfigRules rules(reader.pool());
    const std::vector<model::TypeRule> found =
        reader.run([&] { return model::type_rules(reader.table(), rules, rules.oracle()); });
    py::list out;
    for (const model::TypeRule& rule : found) {
        out.append(py::make_tuple(rules.oracle().object_of(rule.name), target::mode_object(rule.mode),
                                  py::int_(rule.live_count)));
    }
    return out;
}

py::list unset_module_entries(const py::object& entries, const py::object& resolved) {
    GcPause pause;
    target::EntryReader reader(entries);
    reader.load({Field::InReplaced, Field::IsReplacedRoot, Field::DirectParamCount, Field::Id});
    py::list out;
    reader.run([&] {
        model::each_unset(
            reader.table(), [&](std::size_t row) { return target::eff_in(resolved, reader, row).is_none(); },
            [&](std::size_t row) { out.append(reader.entry(row)); });
    });
    return out;
}

}  // namespace

void register_rule_editing(py::module_& m) {
    def(m, "set_module_id_mode", {"module_id", "mode"}, nullptr, [](Args& a) { set_mode(a[0], a[1], true); });
    def(m, "set_module_name_mode", {"module_type_name", "mode"}, nullptr,
        [](Args& a) { set_mode(a[0], a[1], false); });
    def(m, "clear_module_mode", {"entry"}, nullptr, [](Args& a) { return clear_module_mode(a[0]); });
    def(m, "type_rule_entries", {"entries"}, nullptr, [](Args& a) { return type_rule_entries(a[0]); });
    def(m, "unset_module_entries", {"entries", "resolved"}, nullptr,
        [](Args& a) { return unset_module_entries(a[0], a[1]); });
}

}  // namespace nvx::configure
