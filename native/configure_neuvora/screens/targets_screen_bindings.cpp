// Python face of the Targets screen: reads each entry and its resolved record
// once, turns them into the plain row pieces of targets_screen.hpp and returns
// the lines as interpreter strings.
#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/functions.hpp"
#include "common/interp.hpp"
#include "common/module_namespace.hpp"
#include "configure_neuvora/engine_use.hpp"
#include "configure_neuvora/registry.hpp"
#include "configure_neuvora/target_model/budget.hpp"
#include "configure_neuvora/target_model/names.hpp"
#include "configure_neuvora/target_model/rule_editing.hpp"
#include "core/screens/targets_text.hpp"
#include "core/text/display_text.hpp"
#include "core/text/human_count.hpp"
#include "core/text/styling.hpp"
#include "targets_frame.hpp"

namespace nvx::configure {
namespace {

using target::names;

PyObject* zero() {
    static PyObject* const value = PyLong_FromLong(0);  // kept for the life of the process
    return value;
}

// `mapping.get(key, False)` as a truth value.
bool get_truthy(const py::handle& mapping, const py::handle& key) {
    if (PyDict_CheckExact(mapping.ptr())) {
        PyObject* found = PyDict_GetItemWithError(mapping.ptr(), key.ptr());
        if (found == nullptr && PyErr_Occurred()) throw py::error_already_set();
        return found != nullptr && truthy(found);
    }
    return truthy(mapping.attr("get")(key, py::bool_(false)));
}

bool text_equals(const py::handle& value, PyObject* text) {
    if (PyUnicode_CheckExact(value.ptr())) {
        return value.ptr() == text || PyUnicode_Compare(value.ptr(), text) == 0;
    }
    return equals(value, text);
}

bool greater_than_zero(const py::handle& value) {
    const int result = PyObject_RichCompareBool(value.ptr(), zero(), Py_GT);
    if (result < 0) throw py::error_already_set();
    return result != 0;
}

// "  " * depth, with the interpreter's rules for the repeat count.
void assign_indent(std::u32string& buffer, const py::handle& depth) {
    if (PyLong_Check(depth.ptr())) {
        int overflow = 0;
        const long long count = PyLong_AsLongLongAndOverflow(depth.ptr(), &overflow);
        if (overflow == 0 && count >= 0 && count < (1LL << 24)) {
            buffer.assign(static_cast<size_t>(count) * 2, U' ');
            return;
        }
        if (overflow < 0 || (overflow == 0 && count < 0)) {
            buffer.clear();
            return;
        }
    }
    PyObject* repeated = PyNumber_Multiply(py::str("  ").ptr(), depth.ptr());
    if (repeated == nullptr) throw py::error_already_set();
    to_u32(to_str(py::reinterpret_steal<py::object>(repeated)), buffer);
}

targets::ModeColor mode_color(const py::handle& mode) {
    if (text_equals(mode, names().dendrified)) return targets::ModeColor::Dendrify;
    if (text_equals(mode, names().tracked)) return targets::ModeColor::Track;
    return targets::ModeColor::Other;
}

// `MODE_VERB.get(mode, str(mode))` against the given mapping.
py::object verb_of(const py::handle& verbs, const py::handle& mode) {
    py::str fallback = to_str(mode);
    if (PyDict_CheckExact(verbs.ptr())) {
        PyObject* found = PyDict_GetItemWithError(verbs.ptr(), mode.ptr());
        if (found != nullptr) return py::reinterpret_borrow<py::object>(found);
        if (PyErr_Occurred()) throw py::error_already_set();
        return fallback;
    }
    return verbs.attr("get")(mode, fallback);
}

// Marker of a row that is not inside a replaced module, from its record's
// "eff" and, as needed, the entry's own count and the record's "source".
targets::Marker marker_of(const py::handle& eff, bool owns_parameters, const py::handle& source) {
    using targets::MarkerKind;
    if (eff.is_none())
        return targets::marker(owns_parameters ? MarkerKind::Attention : MarkerKind::Blank, {});
    const MarkerKind kind = text_equals(source, names().inherited)   ? MarkerKind::Inherited
                            : text_equals(source, names().id_source) ? MarkerKind::ById
                                                                     : MarkerKind::ByType;
    return targets::marker(kind, mode_color(eff));
}

targets::Marker marker_for(const py::handle& entry, const py::handle& record) {
    if (truthy(get_item(entry, names().in_replaced))) return targets::marker(targets::MarkerKind::Blank, {});
    py::object eff = get_item(record, names().eff);
    if (eff.is_none())
        return marker_of(eff, greater_than_zero(get_item(entry, names().direct_param_count)), eff);
    return marker_of(eff, false, get_item(record, names().source));
}

py::tuple marker_pair(const targets::Marker& m) {
    return py::make_tuple(from_u32(m.display), from_u32(m.plain));
}

// Position of the selected row, when `selected_index` is an int that fits;
// otherwise every row is compared with it the way the interpreter compares.
struct Selection {
    py::object value;
    bool fast = false;
    Py_ssize_t index = -1;

    explicit Selection(py::object selected) : value(std::move(selected)) {
        if (PyLong_Check(value.ptr())) {
            int overflow = 0;
            const long long v = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
            fast = true;
            index = overflow == 0 && v >= 0 ? static_cast<Py_ssize_t>(v) : -1;
        }
    }

    bool matches(Py_ssize_t position) const {
        if (fast) return position == index;
        return equals(py::int_(position), value);
    }
};

// Renders entries into their one or two lines, reusing its text buffers from
// row to row. Reads the entry and its record the way `entry_lines` does.
class RowPainter {
public:
    using ChildCount = std::function<Py_ssize_t(const py::object& entry_id)>;

    // `override_marked`: a set of module ids whose rows carry the override mark, or null.
    RowPainter(py::handle expanded_replaced, ChildCount child_count, py::handle override_marked = {})
        : expanded_replaced_(expanded_replaced),
          child_count_(std::move(child_count)),
          override_marked_(override_marked) {}

    // Appends the lines of `entry` to `rows`; `record_of(id)` gives its record,
    // `shared_owner` the id of the earlier row holding all its parameters (null: none).
    template <typename RecordOf>
    void paint(py::handle entry, bool selected, const RecordOf& record_of, const py::object& shared_owner,
               std::vector<std::u32string>& rows) {
        const target::Names& n = names();
        assign_indent(indent_, get_item(entry, n.depth));
        py::object entry_id = get_item(entry, n.id);
        to_u32(to_str(entry_id), id_);
        display::escape_controls_in_place(id_);
        to_u32(to_str(get_item(entry, n.type_name)), type_name_);
        display::escape_controls_in_place(type_name_);
        py::object own_count = get_item(entry, n.direct_param_count);
        py::object record = record_of(entry_id);
        const targets::RowText row{selected, indent_, id_, type_name_};

        if (truthy(get_item(entry, n.is_replaced_root))) {
            const Py_ssize_t children = child_count_(entry_id);
            const std::string digits = std::to_string(children);
            count_text_.assign(digits.begin(), digits.end());
            const bool open = get_truthy(expanded_replaced_, entry_id);
            targets::append_replaced_root_lines(rows, row, count_text_, open);
        } else if (truthy(get_item(entry, n.in_replaced))) {
            rows.push_back(targets::stale_row(row, targets::marker(targets::MarkerKind::Blank, {})));
        } else {
            const bool has_params = greater_than_zero(own_count);
            py::object eff = get_item(record, n.eff);
            py::object source = eff.is_none() ? py::none() : get_item(record, n.source);
            const targets::Marker marker = marker_of(eff, has_params, source);
            targets::Tail tail;
            if (eff.is_none()) {
                tail.kind = has_params ? targets::Tail::Kind::NeedsMode : targets::Tail::Kind::Empty;
            } else {
                tail.kind = targets::Tail::Kind::Mode;
                tail.color = mode_color(eff);
                verb_text(verb_, eff);
                tail.verb = verb_;
                if (text_equals(source, n.inherited)) {
                    tail.inherited = true;
                    to_u32(to_str(get_item(record, n.origin_id)), origin_);
                    display::escape_controls_in_place(origin_);
                    tail.origin = origin_;
                }
                py::object overridden = get_item(record, n.overridden);
                if (!overridden.is_none()) {
                    tail.overridden = true;
                    verb_text(overridden_verb_, get_item(overridden, n.mode));
                    tail.overridden_verb = overridden_verb_;
                }
            }
            tail.override_mark = override_marked_ && contains(override_marked_, entry_id);
            if (has_params) params_text(own_count);
            shared_with_.clear();
            if (shared_owner) {
                to_u32(to_str(shared_owner), shared_with_);
                display::escape_controls_in_place(shared_with_);
            }
            rows.push_back(targets::normal_row(row, marker, tail, has_params, params_, shared_with_));
        }
    }

private:
    // `format_human_count(count)`: computed here while the module's own function
    // is in place (and remembered per value, counts repeat), else asked of it.
    void params_text(const py::object& count) {
        if (!format_count_) {
            format_count_ = global("format_human_count");
            direct_format_ = engine_may_stand_in();
        }
        std::int64_t value = 0;
        if (direct_format_ && machine_count(count, value)) {
            auto found = formatted_.find(value);
            if (found == formatted_.end()) {
                const std::string text = target::format_human_count(value);
                found = formatted_.emplace(value, std::u32string(text.begin(), text.end())).first;
            }
            params_ = found->second;
            return;
        }
        to_u32(to_str((*format_count_)(count)), params_);
    }

    static bool machine_count(const py::object& count, std::int64_t& out) {
        if (!PyLong_CheckExact(count.ptr())) return false;
        int overflow = 0;
        const long long value = PyLong_AsLongLongAndOverflow(count.ptr(), &overflow);
        if (value == -1 && PyErr_Occurred()) throw py::error_already_set();
        if (overflow != 0) return false;
        out = value;
        return true;
    }

    void verb_text(std::u32string& buffer, const py::handle& mode) {
        if (!verbs_) verbs_ = global("MODE_VERB");
        to_u32(to_str(verb_of(*verbs_, mode)), buffer);
    }

    py::handle expanded_replaced_;
    ChildCount child_count_;
    py::handle override_marked_;
    std::optional<py::object> verbs_;         // MODE_VERB, read at first use
    std::optional<py::object> format_count_;  // format_human_count, read at first use
    bool direct_format_ = false;
    std::unordered_map<std::int64_t, std::u32string> formatted_;
    std::u32string indent_, id_, type_name_, origin_, verb_, overridden_verb_, params_, count_text_,
        shared_with_;
};

std::u32string_view conflict_verb(target::Mode mode) {
    switch (mode) {
        case target::Mode::Dendrified:
            return U"dendrify";
        case target::Mode::Tracked:
            return U"track";
        default:
            return U"none";
    }
}

std::u32string shown_id(const target::EntryTable& table, std::size_t index) {
    return display::escape_controls(to_u32(to_str(table.field(index, target::Field::Id))));
}

// The id of the earlier row holding all of row `index`'s parameters, or null.
py::object shared_owner_id(const target::EntryTable& table, int owner) {
    return owner >= 0 ? table.field(static_cast<std::size_t>(owner), target::Field::Id) : py::object();
}

// What the footer adds above the key hints: shared tensors in conflict and
// parameters held by the model itself; nothing when neither is there.
std::vector<std::u32string> footer_notes(target::EntryTable& table,
                                         const std::function<target::Mode(std::size_t)>& mode_of) {
    std::vector<std::u32string> notes;
    const target::SharedConflicts conflicts = table.shared_conflicts(mode_of);
    if (!conflicts.pairs.empty()) {
        const target::SharedConflict& first = conflicts.pairs.front();
        notes.push_back(targets::shared_conflict_line(
            targets::shared_weights_text(shown_id(table, first.row), shown_id(table, first.owner),
                                         first.tensors, conflict_verb(first.row_mode),
                                         conflict_verb(first.owner_mode)),
            conflicts.tensors));
    }
    if (const target::UnreachedParameters* unreached = table.unreached_parameters()) {
        constexpr std::size_t kNamesShown = 3;
        std::vector<std::u32string> shown;
        for (std::size_t k = 0; k < unreached->names.size() && k < kNamesShown; ++k) {
            shown.push_back(display::escape_controls(to_u32(to_str(unreached->names[k]))));
        }
        const py::object elements = unreached->elements.value();
        notes.push_back(targets::unreached_parameters_line(
            to_u32(call_global("format_human_count", elements)), equals(elements, py::int_(1)), shown,
            unreached->names.size() > kNamesShown));
    }
    return notes;
}

// The effective mode `resolved` gives row `index`.
target::Mode mode_in(const py::handle& resolved, const target::EntryTable& table, std::size_t index) {
    py::object eff = get_item(get_item(resolved, table.field(index, target::Field::Id).ptr()), names().eff);
    if (text_equals(eff, names().dendrified)) return target::Mode::Dendrified;
    if (text_equals(eff, names().tracked)) return target::Mode::Tracked;
    return target::Mode::None;
}

py::list header_lines(size_t need, size_t type_rules, bool all_reached) {
    py::list header;
    header.append(from_u32(targets::tab_bar(true)));
    header.append(py::str(""));
    header.append(from_u32(targets::legend_line()));
    header.append(py::str(""));
    header.append(from_u32(targets::status_line(need, type_rules, all_reached)));
    header.append(from_u32(style::horizontal_rule()));
    return header;
}

py::list footer_lines(const py::object& budget_line, const std::vector<std::u32string>& notes) {
    py::list footer;
    footer.append(from_u32(style::horizontal_rule()));
    footer.append(from_u32(style::dim(to_u32(to_str(budget_line)))));
    footer.append(py::str(""));
    for (const std::u32string& note : notes) footer.append(from_u32(note));
    footer.append(from_u32(targets::key_hints_line()));
    return footer;
}

py::object render_targets_lines(Args& a) {
    const py::object& entries = a[0];
    const py::object& visible_entries = a[1];
    const Selection selection(a[2]);
    const py::object& resolved = a[3];
    const py::object& expanded_replaced = a[4];

    // The counts come from the engine over `entries` unless one of the module's
    // functions has been replaced; then they come from the module's functions.
    std::unique_ptr<target::EntryTable> scratch;
    const bool direct = engine_may_stand_in();
    target::EntryTable* table = &target::EntryTable::for_entries(entries, scratch);
    const size_t need = direct ? py::len(target::unset_module_entries(*table, resolved))
                               : py::len(call_global("unset_module_entries", entries, resolved));
    const size_t type_rules =
        direct ? table->type_rule_count() : py::len(call_global("type_rule_entries", entries));
    py::list header = header_lines(need, type_rules, table->unreached_parameters() == nullptr);

    py::list body;
    Py_ssize_t focus_start = 0;
    Py_ssize_t focus_end = 1;
    RowPainter painter(expanded_replaced, [&](const py::object& entry_id) {
        return static_cast<Py_ssize_t>(table->children_of(entry_id));
    });
    const auto record_of = [&](const py::object& entry_id) { return get_item(resolved, entry_id.ptr()); };
    std::vector<std::u32string> rows;

    py::object visible = py::reinterpret_steal<py::object>(
        PySequence_Fast(visible_entries.ptr(), "visible_entries must be iterable"));
    if (!visible) throw py::error_already_set();
    const Py_ssize_t visible_count = PySequence_Fast_GET_SIZE(visible.ptr());

    for (Py_ssize_t i = 0; i < visible_count; ++i) {
        py::handle entry = PySequence_Fast_GET_ITEM(visible.ptr(), i);
        const bool selected = selection.matches(i);
        rows.clear();
        painter.paint(entry, selected, record_of,
                      shared_owner_id(*table, table->shared_owner_of(entry.ptr())), rows);

        const auto length = static_cast<Py_ssize_t>(PyList_GET_SIZE(body.ptr()));
        if (selected) {
            focus_start = length;
            focus_end = length + static_cast<Py_ssize_t>(rows.size());
        }
        for (const std::u32string& line : rows) {
            if (PyList_Append(body.ptr(), from_u32(line).ptr()) < 0) throw py::error_already_set();
        }
    }

    const py::object budget = direct ? py::object(target::build_budget_line(*table, resolved))
                                     : call_global("build_budget_line", entries, resolved);
    py::list footer = footer_lines(
        budget, footer_notes(*table, [&](std::size_t i) { return mode_in(resolved, *table, i); }));
    return py::make_tuple(header, body, footer, py::make_tuple(focus_start, focus_end));
}

}  // namespace

struct TargetsBody::Painter {
    RowPainter painter;
    Painter(py::handle expanded, RowPainter::ChildCount count, py::handle marked)
        : painter(expanded, std::move(count), marked) {}
};

TargetsBody::TargetsBody(target::EntryTable& table, const target::Resolution& resolution,
                         std::vector<int> visible, Py_ssize_t selected, py::object expanded_replaced,
                         py::object override_marked)
    : table_(table),
      resolution_(resolution),
      visible_(std::move(visible)),
      selected_(selected),
      expanded_replaced_(std::move(expanded_replaced)),
      override_marked_(std::move(override_marked)),
      lines_(static_cast<long long>(visible_.size())) {
    // A replaced root takes two lines; every other row one.
    const auto two_lines = [&](std::size_t pos) {
        return table_.truth(static_cast<std::size_t>(visible_[pos]), target::Field::IsReplacedRoot);
    };
    bool any_root = false;
    for (std::size_t pos = 0; pos < visible_.size() && !any_root; ++pos) any_root = two_lines(pos);
    if (any_root) {
        first_line_.resize(visible_.size());
        long long next = 0;
        for (std::size_t pos = 0; pos < visible_.size(); ++pos) {
            first_line_[pos] = next;
            next += two_lines(pos) ? 2 : 1;
        }
        lines_ = next;
    }
}

TargetsBody::~TargetsBody() = default;

long long TargetsBody::line_of(std::size_t position) const {
    return first_line_.empty() ? static_cast<long long>(position) : first_line_[position];
}

layout::Focus TargetsBody::focus() const {
    if (selected_ < 0 || static_cast<std::size_t>(selected_) >= visible_.size()) return {0, 1};
    const auto pos = static_cast<std::size_t>(selected_);
    const long long start = line_of(pos);
    const long long rows =
        table_.truth(static_cast<std::size_t>(visible_[pos]), target::Field::IsReplacedRoot) ? 2 : 1;
    return {start, start + rows};
}

const std::u32string& TargetsBody::line(long long index) {
    std::size_t pos = static_cast<std::size_t>(index);
    if (!first_line_.empty()) {
        const auto after = std::upper_bound(first_line_.begin(), first_line_.end(), index);
        pos = static_cast<std::size_t>(after - first_line_.begin()) - 1;
    }
    auto found = rendered_.find(pos);
    if (found == rendered_.end()) {
        if (!painter_) {
            painter_ = std::make_unique<Painter>(
                expanded_replaced_,
                [this](const py::object& entry_id) {
                    return static_cast<Py_ssize_t>(table_.children_of(entry_id));
                },
                override_marked_);
        }
        painting_ = static_cast<std::size_t>(visible_[pos]);
        std::vector<std::u32string> rows;
        const target::EntryTable::Row& row = table_.row(painting_);
        painter_->painter.paint(
            row.entry, static_cast<Py_ssize_t>(pos) == selected_,
            [&](const py::object&) { return table_.record(resolution_, painting_); },
            shared_owner_id(table_, table_.shared_owner(painting_)), rows);
        found = rendered_.emplace(pos, std::move(rows)).first;
    }
    return found->second[static_cast<std::size_t>(index - line_of(pos))];
}

py::list targets_header_lines(std::size_t need, std::size_t type_rules, bool all_reached) {
    return header_lines(need, type_rules, all_reached);
}

py::list targets_footer_lines(const py::object& budget_line, target::EntryTable& table,
                              const target::Resolution& resolution) {
    return footer_lines(budget_line, footer_notes(table, [&](std::size_t i) { return resolution.eff[i]; }));
}

std::vector<std::u32string> shared_conflict_texts(target::EntryTable& table, const py::handle& resolved,
                                                  std::size_t& tensors) {
    const target::SharedConflicts conflicts =
        table.shared_conflicts([&](std::size_t i) { return mode_in(resolved, table, i); });
    std::vector<std::u32string> texts;
    for (const target::SharedConflict& pair : conflicts.pairs) {
        texts.push_back(targets::shared_weights_text(shown_id(table, pair.row), shown_id(table, pair.owner),
                                                     pair.tensors, conflict_verb(pair.row_mode),
                                                     conflict_verb(pair.owner_mode)));
    }
    tensors = conflicts.tensors;
    return texts;
}

void register_targets_screen(py::module_& m) {
    py::dict verbs;
    verbs["dendrified"] = "dendrify";
    verbs["tracked"] = "track";
    m.attr("MODE_VERB") = verbs;

    def(m, "render_tab_bar", {"active_screen"}, nullptr,
        [](Args& a) { return from_u32(targets::tab_bar(equals(a[0], py::str("targets")))); });
    def(m, "mode_verb", {"mode"}, nullptr, [](Args& a) { return verb_of(global("MODE_VERB"), a[0]); });
    def(m, "make_block", {"mode"}, nullptr,
        [](Args& a) { return from_u32(targets::block(mode_color(a[0]))); });
    def(m, "make_target_marker", {"entry", "record"}, nullptr,
        [](Args& a) { return marker_pair(marker_for(a[0], a[1])); });
    def(m, "render_targets_lines",
        {"entries", "visible_entries", "selected_index", "resolved", "expanded_replaced"}, nullptr,
        render_targets_lines);
}

}  // namespace nvx::configure
