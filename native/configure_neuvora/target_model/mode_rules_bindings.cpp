// Python face of the rule lists and the resolution: each function reads its
// arguments into the target model's values and runs the model's rule.
#include "common/functions.hpp"
#include "common/interp.hpp"
#include "config_rules.hpp"
#include "configure_neuvora/registry.hpp"
#include "core/model/resolution.hpp"
#include "entry_reader.hpp"
#include "records.hpp"

namespace nvx::configure {
namespace {

using model::Field;

py::object name_mode_of(const py::object& name, bool by_id) {
    target::ObjectPool pool;
    target::ConfigRules rules(pool);
    const model::Name key = target::read_name(name.ptr(), pool, true);
    return target::mode_object(by_id ? model::id_mode(rules, key, rules.oracle())
                                     : model::name_mode(rules, key, rules.oracle()));
}

py::object resolve_entry_modes(const py::object& entries) {
    GcPause pause;
    target::EntryReader reader(entries);
    reader.load({Field::Id, Field::TypeName});
    reader.load_parents();
    target::ConfigRules rules(reader.pool());
    model::Resolver resolver(reader.table());
    model::Resolution resolution;
    reader.run([&] { resolver.resolve(rules, rules.oracle(), resolution); });
    return target::record_map(reader, resolution);
}

}  // namespace

void register_mode_rules(py::module_& m) {
    def(m, "normalize_selection_conflicts", {}, nullptr, [](Args&) {
        target::ObjectPool pool;
        target::ConfigRules rules(pool);
        model::normalize(rules, rules.oracle());
    });
    def(m, "get_id_mode", {"module_id"}, nullptr, [](Args& a) { return name_mode_of(a[0], true); });
    def(m, "get_name_mode", {"module_type_name"}, nullptr, [](Args& a) { return name_mode_of(a[0], false); });
    def(m, "resolve_entry_modes", {"entries"}, nullptr, [](Args& a) { return resolve_entry_modes(a[0]); });
}

}  // namespace nvx::configure
