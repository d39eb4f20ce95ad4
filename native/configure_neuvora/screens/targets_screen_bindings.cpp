// Python face of the Targets screen: the entries, the rows to draw and the
// records handed in are read into the target model's values; the lines come
// from the same frame the session draws.
#include <memory>
#include <utility>
#include <vector>

#include "common/functions.hpp"
#include "common/interp.hpp"
#include "configure_neuvora/registry.hpp"
#include "configure_neuvora/target_model/config_rules.hpp"
#include "configure_neuvora/target_model/entry_reader.hpp"
#include "configure_neuvora/target_model/names.hpp"
#include "configure_neuvora/target_model/records.hpp"
#include "core/model/flat_map.hpp"
#include "core/model/queries.hpp"
#include "core/screens/row_views.hpp"
#include "core/screens/targets_frame.hpp"
#include "core/text/display_text.hpp"

namespace nvx::configure {
namespace {

// The lines' texts as a list of the interpreter's strings.
py::list frame_lines(const std::vector<layout::FrameLine>& lines) {
    py::list out;
    for (const layout::FrameLine& line : lines) out.append(from_u32(line.text));
    return out;
}

using model::Field;
using target::names;

targets::ModeColor color_of(const py::handle& mode) {
    return targets::mode_color(target::mode_of(mode));
}

// `MODE_VERB.get(mode, str(mode))` over the mode words' own mapping.
std::u32string verb_of(const py::handle& mode) {
    if (PyUnicode_CheckExact(mode.ptr())) {
        const model::Mode word = target::mode_of(mode);
        if (word != model::Mode::None) return std::u32string(model::mode_verb(word));
    }
    static PyObject* const verbs = [] {
        py::dict mapping;
        for (const model::Mode each : {model::Mode::Dendrified, model::Mode::Tracked}) {
            mapping[py::str(model::mode_text(each))] = from_u32(std::u32string(model::mode_verb(each)));
        }
        return mapping.release().ptr();  // kept for the life of the process
    }();
    const py::str fallback = to_str(mode);
    PyObject* found = PyDict_GetItemWithError(verbs, mode.ptr());
    if (found == nullptr && PyErr_Occurred()) throw py::error_already_set();
    return to_u32(found != nullptr ? py::reinterpret_borrow<py::object>(found) : py::object(fallback));
}

std::u32string shown_object(const py::handle& value) {
    return display::escape_controls(to_u32(to_str(value)));
}

// The marker of a row drawn from a record handed in: its "eff", and its
// "source" when there is a mode. Returns the "eff" read.
py::object set_record_marker(targets::RowView& row, bool owns, const py::handle& record) {
    using targets::MarkerKind;
    const target::Names& n = names();
    py::object eff = get_item(record, n.eff);
    if (eff.is_none()) {
        row.marker = owns ? MarkerKind::Attention : MarkerKind::Blank;
        return eff;
    }
    py::object source = get_item(record, n.source);
    row.inherited = target::is_word(source, n.inherited);
    row.marker = row.inherited                          ? MarkerKind::Inherited
                 : target::is_word(source, n.id_source) ? MarkerKind::ById
                                                        : MarkerKind::ByType;
    row.color = color_of(eff);
    return eff;
}

// The marker and tail of a row drawn from a record handed in, read as the
// row's definition reads it: the marker, then the mode text.
void set_record_part(targets::RowView& row, bool owns, const py::handle& record) {
    const target::Names& n = names();
    py::object eff = set_record_marker(row, owns, record);
    if (eff.is_none()) {
        row.tail = owns ? targets::Tail::Kind::NeedsMode : targets::Tail::Kind::Empty;
        return;
    }
    row.tail = targets::Tail::Kind::Mode;
    row.verb = verb_of(eff);
    if (row.inherited) row.origin = shown_object(get_item(record, n.origin_id));
    py::object overridden = get_item(record, n.overridden);
    row.overridden = !overridden.is_none();
    if (row.overridden) row.overridden_verb = verb_of(get_item(overridden, n.mode));
}

// The rows of `render_targets_lines`: the visible entries as handed in, each
// with the record `resolved` holds for its id. A visible entry that is one of
// the entries is read from the entries' table (`rows` maps positions to rows
// of `source`; `entry_rows` to rows of the entries, -1 for none).
class PublicRows final : public targets::RowSource {
public:
    PublicRows(target::EntryReader& entries, target::EntryReader& source, std::vector<std::size_t> rows,
               std::vector<int> entry_rows, const py::object& resolved, const py::object& expanded)
        : entries_(entries),
          source_(source),
          rows_(std::move(rows)),
          entry_rows_(std::move(entry_rows)),
          resolved_(resolved),
          expanded_(expanded),
          children_(entries.table()) {
        source_.load({Field::Depth, Field::Id, Field::TypeName, Field::DirectParamCount,
                      Field::IsReplacedRoot, Field::InReplaced});
        // A row whose flag cannot be read raises when it is drawn, in row order.
        std::vector<std::size_t> two_lines;
        const model::Column<bool>& roots = source_.table().is_replaced_root;
        for (std::size_t position = 0; position < rows_.size(); ++position) {
            if (roots.present(rows_[position]) && roots.values[rows_[position]])
                two_lines.push_back(position);
        }
        index_ = std::make_unique<targets::LineIndex>(rows_.size(), std::move(two_lines));
    }

    const targets::LineIndex& index() override { return *index_; }

    targets::RowView row(std::size_t position) override {
        return source_.run([&] { return read_row(position); });
    }

private:
    targets::RowView read_row(std::size_t position) {
        const std::size_t row = rows_[position];
        const model::ModuleTable& table = source_.table();
        targets::RowView view;
        view.indent = targets::indent_text(table.indents.at(row, Field::Depth));
        view.id = targets::shown_text(table.id(row), source_.oracle());
        view.type_name = class_names_.of(table, row, source_.oracle());
        table.own_counts.at(row, Field::DirectParamCount);
        py::object record = get_item(resolved_, source_.id_object(row));
        if (table.replaced_root(row)) {
            view.layout = targets::RowView::Layout::ReplacedRoot;
            entries_.load({Field::ReplacedRoot});
            view.children = entries_.run([&] { return children_.of(table.id(row), source_.oracle()); });
            view.open = truthy(expanded_.attr("get")(source_.id_object(row), py::bool_(false)));
            return view;
        }
        if (table.inside_replaced(row)) {
            view.layout = targets::RowView::Layout::Stale;
            return view;
        }
        const bool owns = table.owns(row);
        set_record_part(view, owns, record);
        view.has_params = owns;
        if (owns) {
            view.params = counts_.of(table, row);
            const int owner = shared_owner(position);
            if (owner >= 0) {
                view.shared_with = targets::shown_text(
                    entries_.table().ids.values[static_cast<std::size_t>(owner)], entries_.oracle());
            }
        }
        return view;
    }

    // The earlier entry holding all of this row's parameters, when the row is one of the entries.
    int shared_owner(std::size_t position) {
        if (!sharing_) sharing_ = model::find_sharing(entries_.table());
        const int row = entry_rows_[position];
        return row >= 0 ? sharing_->owner_of(static_cast<std::size_t>(row)) : -1;
    }

    target::EntryReader& entries_;
    target::EntryReader& source_;
    std::vector<std::size_t> rows_;
    std::vector<int> entry_rows_;
    py::object resolved_;
    py::object expanded_;
    model::ChildCounts children_;
    targets::CountTexts counts_;
    targets::ClassNameTexts class_names_;
    std::unique_ptr<targets::LineIndex> index_;
    std::optional<model::Sharing> sharing_;
};

// Whether position `i` is `selected_index` (any object, compared as the interpreter compares).
std::optional<std::size_t> selected_position(const py::object& selected, std::size_t count) {
    if (PyLong_Check(selected.ptr())) {
        int overflow = 0;
        const long long value = PyLong_AsLongLongAndOverflow(selected.ptr(), &overflow);
        if (overflow == 0 && value >= 0 && static_cast<std::size_t>(value) < count) {
            return static_cast<std::size_t>(value);
        }
        return std::nullopt;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (equals(py::int_(i), selected)) return i;
    }
    return std::nullopt;
}

py::object render_targets_lines(Args& a) {
    const py::object& resolved = a[3];
    GcPause pause;
    target::EntryReader entries(a[0]);
    entries.load({Field::InReplaced, Field::IsReplacedRoot, Field::DirectParamCount, Field::Id});
    targets::TargetsHead head;
    entries.run([&] {
        model::each_unset(
            entries.table(),
            [&](std::size_t row) { return target::eff_in(resolved, entries, row).is_none(); },
            [&](std::size_t) { ++head.need; });
    });
    entries.load({Field::TypeName});
    target::ConfigRules rules(entries.pool());
    head.type_rules =
        entries.run([&] { return model::type_rules(entries.table(), rules, rules.oracle()).size(); });

    entries.load_parameters();
    // Each visible entry by the first row of the entries that is the same object.
    model::IdentityMap<std::size_t> row_of(entries.size());
    for (std::size_t row = entries.size(); row-- > 0;) row_of.assign(entries.entry(row).ptr(), row);
    py::object visible = steal(PySequence_List(a[1].ptr()));
    const auto count = static_cast<std::size_t>(PyList_GET_SIZE(visible.ptr()));
    std::vector<std::size_t> rows(count);
    std::vector<int> entry_rows(count, -1);
    bool all_entries = true;
    for (std::size_t position = 0; position < count; ++position) {
        const std::size_t* row =
            row_of.find(PyList_GET_ITEM(visible.ptr(), static_cast<Py_ssize_t>(position)));
        if (row != nullptr) entry_rows[position] = static_cast<int>(*row);
        rows[position] = row != nullptr ? *row : position;
        all_entries = all_entries && row != nullptr;
    }
    std::optional<target::EntryReader> others;
    if (!all_entries) {
        others.emplace(visible);
        for (std::size_t position = 0; position < count; ++position) rows[position] = position;
    }
    auto body_rows = std::make_shared<PublicRows>(entries, others ? *others : entries, std::move(rows),
                                                  std::move(entry_rows), resolved, a[4]);
    const std::optional<std::size_t> selected = selected_position(a[2], count);

    targets::TargetsFoot foot;
    foot.budget = model::budget_text(entries.run([&] {
        return model::budget_sums(entries.table(), [&](std::size_t row) {
            return py_eq(target::eff_in(resolved, entries, row).ptr(), names().dendrified);
        });
    }));
    const model::SharedConflicts conflicts =
        model::shared_conflicts(model::find_sharing(entries.table()), [&](std::size_t row) {
            return entries.run([&] { return target::mode_of(target::eff_in(resolved, entries, row)); });
        });
    if (!conflicts.pairs.empty()) {
        foot.first_conflict = targets::conflict_note(conflicts.pairs.front(), [&](std::size_t row) {
            return targets::shown_text(entries.table().ids.values[row], entries.oracle());
        });
        foot.conflict_tensors = conflicts.tensors;
    }

    const layout::ScreenFrame frame = targets::targets_frame(head, body_rows, selected, foot);
    // Every row is drawn once, in order.
    py::list body;
    for (std::size_t position = 0; position < count; ++position) {
        for (const std::u32string& line :
             targets::row_lines(body_rows->row(position), selected == position)) {
            if (PyList_Append(body.ptr(), from_u32(line).ptr()) < 0) throw py::error_already_set();
        }
    }
    return py::make_tuple(frame_lines(frame.header), body, frame_lines(frame.footer),
                          py::make_tuple(frame.focus->start, frame.focus->end));
}

py::tuple make_target_marker(const py::object& entry, const py::object& record) {
    const target::Names& n = names();
    targets::RowView row;
    if (truthy(get_item(entry, n.in_replaced))) {
        row.marker = targets::MarkerKind::Blank;
    } else {
        py::object eff = get_item(record, n.eff);
        const bool owns = eff.is_none() && [&] {
            py::object zero = steal(PyLong_FromLong(0));
            const int positive =
                PyObject_RichCompareBool(get_item(entry, n.direct_param_count).ptr(), zero.ptr(), Py_GT);
            if (positive < 0) throw py::error_already_set();
            return positive != 0;
        }();
        set_record_marker(row, owns, record);
    }
    const targets::Marker marker = targets::marker(row.marker, row.color);
    return py::make_tuple(from_u32(marker.display), from_u32(marker.plain));
}

}  // namespace

void register_targets_screen(py::module_& m) {
    // For readers of the module; the screens use the mapping of the mode words.
    py::dict verbs;
    for (const model::Mode each : {model::Mode::Dendrified, model::Mode::Tracked}) {
        verbs[py::str(model::mode_text(each))] = from_u32(std::u32string(model::mode_verb(each)));
    }
    m.attr("MODE_VERB") = verbs;

    def(m, "render_tab_bar", {"active_screen"}, nullptr,
        [](Args& a) { return from_u32(targets::tab_bar(equals(a[0], py::str("targets")))); });
    def(m, "mode_verb", {"mode"}, nullptr, [](Args& a) { return from_u32(verb_of(a[0])); });
    def(m, "make_block", {"mode"}, nullptr, [](Args& a) { return from_u32(targets::block(color_of(a[0]))); });
    def(m, "make_target_marker", {"entry", "record"}, nullptr,
        [](Args& a) { return make_target_marker(a[0], a[1]); });
    def(m, "render_targets_lines",
        {"entries", "visible_entries", "selected_index", "resolved", "expanded_replaced"}, nullptr,
        render_targets_lines);
    register_targets_overlays(m);
}

}  // namespace nvx::configure
