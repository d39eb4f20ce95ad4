#include "config_rules.hpp"

#include "common/interp.hpp"
#include "configure_neuvora/seams.hpp"

namespace nvx::target {
namespace {

struct Accessors {
    const char* getter;
    const char* setter;
};

// The configuration object's getter and setter of each list, in RuleKind order.
const Accessors& accessors_of(model::RuleKind which) {
    static const Accessors table[] = {
        {"get_module_ids_to_dendrify", "set_module_ids_to_dendrify"},
        {"get_module_ids_to_track", "set_module_ids_to_track"},
        {"get_module_names_to_dendrify", "set_module_names_to_dendrify"},
        {"get_module_names_to_track", "set_module_names_to_track"},
    };
    return table[static_cast<int>(which)];
}

}  // namespace

model::RuleList ConfigRules::fetch(model::RuleKind which) {
    py::object values = configure::configuration().attr(accessors_of(which).getter)();
    model::RuleList list;
    PyObject* container = values.ptr();
    if (!PyList_CheckExact(container) && !PyTuple_CheckExact(container)) {
        // Asked through its own `in`; its values as iterating it gives them.
        list.asks_container = true;
        list.container = pool_->add(container);
        values = list_copy(values);
    }
    const Py_ssize_t size = PySequence_Fast_GET_SIZE(values.ptr());
    list.values.reserve(static_cast<std::size_t>(size));
    for (Py_ssize_t i = 0; i < size; ++i) {
        list.values.push_back(read_name(PySequence_Fast_GET_ITEM(values.ptr(), i), *pool_, true));
    }
    return list;
}

void ConfigRules::store(model::RuleKind which, const std::vector<model::Name>& values) {
    configure::configuration().attr(accessors_of(which).setter)(objects_of(values, oracle_));
}

model::ModeArgument mode_argument(const py::handle& mode) {
    if (py_eq(mode.ptr(), py::str("dendrified").ptr())) return model::ModeArgument::Dendrified;
    if (py_eq(mode.ptr(), py::str("tracked").ptr())) return model::ModeArgument::Tracked;
    return model::ModeArgument::Other;
}

}  // namespace nvx::target
