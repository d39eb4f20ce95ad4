#include "engine_use.hpp"

#include <utility>
#include <vector>

#include "common/module_namespace.hpp"

namespace nvx::configure {
namespace {

// Everything the engine computes directly when nothing here was replaced.
constexpr const char* kEngineFunctions[] = {
    "resolve_entry_modes", "unset_module_entries", "type_rule_entries",        "build_budget_line",
    "format_human_count",  "render_targets_lines", "compose_scrolling_screen",
};

// The registered function objects, in the order of kEngineFunctions; strong
// references held for the life of the process.
std::vector<PyObject*>& registered() {
    static auto* functions = new std::vector<PyObject*>();  // outlives the interpreter's teardown
    return *functions;
}

}  // namespace

void remember_engine_functions(const py::module_& m) {
    for (const char* name : kEngineFunctions) {
        registered().push_back(py::object(m.attr(name)).release().ptr());
    }
}

bool engine_may_stand_in() {
    const py::dict space = module_namespace();
    std::size_t k = 0;
    for (const char* name : kEngineFunctions) {
        PyObject* current = PyDict_GetItemString(space.ptr(), name);  // borrowed, compared only
        if (current != registered()[k++]) return false;
    }
    return true;
}

}  // namespace nvx::configure
