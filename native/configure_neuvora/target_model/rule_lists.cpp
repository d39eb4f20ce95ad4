#include "rule_lists.hpp"

#include "configure_neuvora/seams.hpp"

namespace nvx::target {
namespace {

struct RuleListAccessors {
    const char* getter;
    const char* setter;
};

// The configuration object's getter and setter of each list, in RuleList order.
const RuleListAccessors& accessors_of(RuleList which) {
    static const RuleListAccessors table[] = {
        {"get_module_ids_to_dendrify", "set_module_ids_to_dendrify"},
        {"get_module_ids_to_track", "set_module_ids_to_track"},
        {"get_module_names_to_dendrify", "set_module_names_to_dendrify"},
        {"get_module_names_to_track", "set_module_names_to_track"},
    };
    return table[static_cast<int>(which)];
}

}  // namespace

py::object fetch_rule_list(RuleList which) {
    return configure::configuration().attr(accessors_of(which).getter)();
}

void store_rule_list(RuleList which, const py::object& values) {
    configure::configuration().attr(accessors_of(which).setter)(values);
}

}  // namespace nvx::target
