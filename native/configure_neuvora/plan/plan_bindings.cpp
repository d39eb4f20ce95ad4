// The target plan for `neuvora.plan`: the model read as the configurator reads
// it (its entries through `get_module_entries`, the rule lists of `GNV.pc`,
// the saved overrides through `load_existing_module_settings`), planned by the
// core, and handed to Python as a handle with the plan's facts. The rows, the
// text and the shown rows are asked of the handle when they are wanted.
#include <memory>
#include <optional>

#include "common/functions.hpp"
#include "common/interp.hpp"
#include "configure_neuvora/registry.hpp"
#include "configure_neuvora/seams.hpp"
#include "configure_neuvora/target_model/config_rules.hpp"
#include "configure_neuvora/target_model/entry_reader.hpp"
#include "configure_neuvora/target_model/names.hpp"
#include "configure_neuvora/target_model/records.hpp"
#include "core/plan/plan_text.hpp"
#include "core/text/no_color.hpp"

namespace nvx::configure {
namespace {

using model::Field;

constexpr const char* kHandleName = "neuvora.configure_neuvora.target_plan";

// What a plan keeps: the table read from the entries (with the objects its
// names view) and the plan over it.
struct PlanData {
    explicit PlanData(const py::handle& entries) : reader(entries) {}
    target::EntryReader reader;
    plan::Plan plan;
};

PlanData& data_of(const py::handle& handle) {
    if (!PyCapsule_IsValid(handle.ptr(), kHandleName))
        raise(PyExc_TypeError, "expected a target plan handle");
    return *static_cast<PlanData*>(PyCapsule_GetPointer(handle.ptr(), kHandleName));
}

// Per row: whether the saved overrides hold a scope named by its id or by its class.
std::vector<unsigned char> saved_override_rows(target::EntryReader& reader) {
    std::vector<unsigned char> rows(reader.size(), 0);
    const py::object saved = call_seam(Seam::LoadExistingModuleSettings);
    if (!truthy(saved)) return rows;
    const model::ModuleTable& table = reader.table();
    std::vector<signed char> by_class(table.class_names.size(), -1);
    for (std::size_t row = 0; row < rows.size(); ++row) {
        const int slot = table.type_slot(row);
        signed char& named = by_class[static_cast<std::size_t>(slot)];
        if (named < 0)
            named =
                contains(saved, reader.oracle().object_of(table.class_names[static_cast<std::size_t>(slot)]))
                    ? 1
                    : 0;
        rows[row] = named == 1 || contains(saved, reader.id_object(row));
    }
    return rows;
}

py::object id_or_none(const PlanData& data, int row) {
    return row < 0 ? py::none() : data.reader.id_object(static_cast<std::size_t>(row));
}

py::list modes_of(const std::vector<model::Mode>& modes) {
    py::list out;
    for (const model::Mode mode : modes) out.append(target::mode_object(mode));
    return out;
}

// (needs_mode ids, conflicts as (ids, modes), model parameter names, type rules as
// (name, mode, live count, [(class, count)]), (added, total, share), ok, modules).
py::tuple facts_of(const PlanData& data) {
    const plan::Plan& plan = data.plan;
    py::list needs_mode;
    for (const int row : plan.needs_mode) needs_mode.append(id_or_none(data, row));
    py::list conflicts;
    for (const plan::Conflict& conflict : plan.conflicts) {
        py::list ids;
        for (const int row : conflict.rows) ids.append(id_or_none(data, row));
        conflicts.append(py::make_tuple(ids, modes_of(conflict.modes)));
    }
    py::list model_parameters;
    for (const std::u32string& name : plan.model_parameters) model_parameters.append(from_u32(name));
    py::list type_rules;
    for (const plan::TypeRule& rule : plan.type_rules) {
        py::list near_misses;
        for (const plan::NearMiss& miss : rule.near_misses)
            near_misses.append(py::make_tuple(from_u32(miss.name), miss.count));
        type_rules.append(py::make_tuple(from_u32(rule.name), target::mode_object(rule.mode), rule.live_count,
                                         near_misses));
    }
    py::tuple budget = py::make_tuple(plan.budget.added, plan.budget.total, plan.share());
    return py::make_tuple(needs_mode, conflicts, model_parameters, type_rules, budget, py::bool_(plan.ok()),
                          data.reader.size());
}

py::object build_target_plan(const py::object& model) {
    GcPause pause;
    const py::object entries = call_seam(Seam::GetModuleEntries, model);
    auto data = std::make_unique<PlanData>(entries);
    target::EntryReader& reader = data->reader;
    reader.load({Field::Id, Field::TypeName, Field::Depth, Field::DirectParamCount, Field::IsReplacedRoot,
                 Field::InReplaced, Field::ReplacedRoot});
    reader.load_parents();
    reader.load_model_parameters(model);
    reader.load_class_uses();
    std::vector<unsigned char> overrides = reader.run([&] { return saved_override_rows(reader); });
    // Rule values share the table's pool, so the oracle compares them with its names.
    target::ConfigRules rules(reader.pool());
    model::Resolver resolver(reader.table());
    data->plan = reader.run([&] {
        return plan::build_plan(reader.table(), resolver, rules, reader.oracle(), std::move(overrides));
    });
    py::tuple facts = facts_of(*data);
    py::capsule handle(data.get(), kHandleName, [](PyObject* capsule) {
        delete static_cast<PlanData*>(PyCapsule_GetPointer(capsule, kHandleName));
    });
    data.release();
    return py::make_tuple(handle, facts);
}

// One tuple per row: (id, type_name, mode, source, own_params, depth,
// restructured, needs_mode, shared_with, overrides).
py::object target_plan_rows(const py::object& handle) {
    PlanData& data = data_of(handle);
    const plan::Plan& plan = data.plan;
    const model::ModuleTable& table = data.reader.table();
    const target::Names& n = target::names();
    std::vector<py::object> class_names(table.class_names.size());
    py::list rows = steal(PyList_New(static_cast<Py_ssize_t>(table.size())));
    for (std::size_t row = 0; row < table.size(); ++row) {
        const py::handle entry = data.reader.entry(row);
        const auto slot = static_cast<std::size_t>(table.type_slots.values[row]);
        if (!class_names[slot])
            class_names[slot] =
                data.reader.oracle().object_of(table.class_names[static_cast<std::size_t>(slot)]);
        py::tuple item = py::make_tuple(
            data.reader.id_object(row), class_names[slot], target::mode_object(plan.resolution.eff[row]),
            target::source_object(plan.resolution.source[row]), get_item(entry, n.direct_param_count),
            get_item(entry, n.depth), py::bool_(plan.restructured[row] != plan::Restructured::No),
            py::bool_(plan.needs_mode_flags[row] != 0), id_or_none(data, plan.shared_with[row]),
            py::bool_(plan.overrides[row] != 0));
        PyList_SET_ITEM(rows.ptr(), static_cast<Py_ssize_t>(row), item.release().ptr());
    }
    return rows;
}

// A depth limit as given: None, or an int of at least 0.
plan::ShowOptions show_options(const py::object& depth, const py::object& fold) {
    plan::ShowOptions options;
    options.fold = truthy(fold);
    if (!depth.is_none()) {
        const long long limit = depth.cast<long long>();
        if (limit < 0) raise(PyExc_ValueError, "depth must be at least 0");
        options.max_depth = static_cast<std::size_t>(limit);
    }
    return options;
}

py::object format_target_plan(const py::object& handle, const py::object& width, const py::object& depth,
                              const py::object& fold, const py::object& color) {
    PlanData& data = data_of(handle);
    plan::TextOptions options;
    const long long columns = width.cast<long long>();
    if (columns < 1) raise(PyExc_ValueError, "width must be at least 1");
    options.width = static_cast<std::size_t>(columns);
    options.show = show_options(depth, fold);
    options.color = truthy(color);
    return from_u32(data.reader.run([&] { return plan::plan_text(data.plan, options); }));
}

py::str kind_word(plan::Warning::Kind kind) {
    switch (kind) {
        case plan::Warning::Kind::Budget:
            return py::str("budget");
        case plan::Warning::Kind::Clear:
            return py::str("clear");
        case plan::Warning::Kind::NeedsMode:
            return py::str("needs_mode");
        case plan::Warning::Kind::Conflict:
            return py::str("conflict");
        case plan::Warning::Kind::ModelParameters:
            return py::str("model_parameters");
        case plan::Warning::Kind::TypeRule:
            return py::str("type_rule");
    }
    return py::str("");
}

py::object color_word(const plan::RowColumns& row) {
    if (row.attention) return py::str("attention");
    switch (row.color) {
        case targets::ModeColor::Dendrify:
            return py::str("dendrified");
        case targets::ModeColor::Track:
            return py::str("tracked");
        case targets::ModeColor::Other:
            break;
    }
    return row.mode.empty() ? py::object(py::none()) : py::object(py::str("accent"));
}

// ([(kind, text)], [(depth, marker, label, type_name, copies, hidden_modules,
// mode, color, source, params, shared_with)]): the warnings and the shown rows.
py::object target_plan_view(const py::object& handle, const py::object& width, const py::object& depth,
                            const py::object& fold) {
    PlanData& data = data_of(handle);
    const plan::ShowOptions options = show_options(depth, fold);
    const long long columns = width.cast<long long>();
    return data.reader.run([&] {
        py::list warnings;
        for (const plan::Warning& warning :
             plan::warnings(data.plan, static_cast<std::size_t>(std::max(1LL, columns)))) {
            warnings.append(py::make_tuple(kind_word(warning.kind), from_u32(warning.text)));
        }
        py::list rows;
        for (const plan::RowColumns& row : plan::row_columns(data.plan, options)) {
            rows.append(py::make_tuple(row.depth, from_u32(row.marker), from_u32(row.label),
                                       from_u32(row.type_name), row.copies, row.hidden_modules,
                                       from_u32(row.mode), color_word(row), from_u32(row.source),
                                       from_u32(row.params), from_u32(row.shared_with)));
        }
        return py::make_tuple(warnings, rows);
    });
}

py::object target_plan_problems(const py::object& handle) {
    PlanData& data = data_of(handle);
    py::list out;
    for (const std::u32string& line : data.reader.run([&] { return plan::problem_lines(data.plan); })) {
        out.append(from_u32(line));
    }
    return out;
}

}  // namespace

void register_target_plan(py::module_& m) {
    def(m, "_build_target_plan", {"model"},
        "Plan the dendrification targets of `model` under the current rules: (handle, facts).",
        [](Args& a) { return build_target_plan(a[0]); });
    def(m, "_target_plan_rows", {"plan"}, "One tuple per module of a planned model, in tree order.",
        [](Args& a) { return target_plan_rows(a[0]); });
    def(m, "_format_target_plan",
        {"plan", Param("width", py::int_(100)), Param("depth", py::none()), Param("fold", py::bool_(true)),
         Param("color", py::bool_(false))},
        "A planned model as text that fits `width` columns.",
        [](Args& a) { return format_target_plan(a[0], a[1], a[2], a[3], a[4]); });
    def(m, "_target_plan_view",
        {"plan", Param("width", py::int_(100)), Param("depth", py::none()), Param("fold", py::bool_(true))},
        "The warnings and the shown rows of a planned model, unstyled.",
        [](Args& a) { return target_plan_view(a[0], a[1], a[2], a[3]); });
    def(m, "_target_plan_problems", {"plan"},
        "One line per module that needs a mode and per tensor in conflict.",
        [](Args& a) { return target_plan_problems(a[0]); });
    def(m, "_without_color", {"text"},
        "The text with the colours taken out of its style codes (grey becomes faint), as NO_COLOR asks.",
        [](Args& a) { return from_u32(style::without_color(to_u32(to_str(a[0])))); });
}

}  // namespace nvx::configure
