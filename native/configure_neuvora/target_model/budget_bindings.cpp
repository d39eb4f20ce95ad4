#include "budget.hpp"
#include "common/functions.hpp"
#include "common/interp.hpp"
#include "configure_neuvora/registry.hpp"
#include "core/model/queries.hpp"
#include "entry_reader.hpp"
#include "names.hpp"
#include "records.hpp"

namespace nvx::configure {
namespace {

py::object build_budget_line(const py::object& entries, const py::object& resolved) {
    GcPause pause;
    target::EntryReader reader(entries);
    reader.load({model::Field::Id});
    reader.load_parameters();
    const model::BudgetSums sums = reader.run([&] {
        return model::budget_sums(reader.table(), [&](std::size_t row) {
            return py_eq(target::eff_in(resolved, reader, row).ptr(), target::names().dendrified);
        });
    });
    return from_u32(model::budget_text(sums));
}

}  // namespace

void register_budget(py::module_& m) {
    def(m, "format_human_count", {"value"}, nullptr,
        [](Args& a) { return target::format_human_count(a[0]); });
    def(m, "build_budget_line", {"entries", "resolved"}, nullptr,
        [](Args& a) { return build_budget_line(a[0], a[1]); });
}

}  // namespace nvx::configure
