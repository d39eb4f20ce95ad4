#include <memory>
#include <utility>
#include <vector>

#include "common/functions.hpp"
#include "common/interp.hpp"
#include "common/module_namespace.hpp"
#include "configure_neuvora/registry.hpp"
#include "configure_neuvora/screens/targets_frame.hpp"
#include "configure_neuvora/target_model/entry_table.hpp"
#include "core/text/display_text.hpp"
#include "core/text/styling.hpp"
#include "core/screens/save_text.hpp"
#include "core/screens/static_pages.hpp"
#include "core/screens/type_rules_text.hpp"

namespace nvx::configure {
namespace {

py::list to_list(const overlays::Lines& lines) {
    py::list out;
    for (const auto& line : lines) out.append(from_u32(line));
    return out;
}

std::u32string text_of(const py::handle& value) {
    return to_u32(to_str(value));
}

// `str(value)` for data from outside (ids, class names, values, paths), with
// control characters shown escaped.
std::u32string shown(const py::handle& value) {
    return display::escape_controls(text_of(value));
}

// `color_text(text, hex)`; a colour the native parser does not take goes to the
// module's own color_text, which raises the interpreter's error for it.
std::u32string colored(const std::u32string& text, const py::object& hex) {
    if (is_str(hex)) {
        if (auto rgb = style::parse_hex_color(to_u32(hex))) return style::color_text(text, *rgb);
    }
    return text_of(call_global("color_text", from_u32(text), hex));
}

// `a, b, c = item` with the interpreter's unpacking errors.
py::tuple unpack(const py::handle& item, std::size_t expected) {
    py::tuple values = py::tuple(py::reinterpret_borrow<py::object>(item));
    if (values.size() != expected) {
        raise_unpack_error(static_cast<Py_ssize_t>(expected), static_cast<Py_ssize_t>(values.size()));
    }
    return values;
}

// The hint rows under one type rule: that it matches nothing at all (its live
// count is 0 and no module has the class), and the classes of the model it
// nearly matches.
void append_type_rule_hints(std::vector<overlays::TypeRuleRow>& rows, const target::TypeRuleHints& hints,
                            const py::handle& rule_name, const py::handle& live_count) {
    if (hints.matches_nothing && equals(live_count, py::int_(0)))
        rows.push_back(overlays::type_rule_hint(overlays::matches_nothing_text()));
    if (hints.near_misses.empty()) return;
    std::vector<std::pair<std::u32string, std::size_t>> classes;
    for (const target::NearMiss& miss : hints.near_misses) {
        if (classes.size() == overlays::kNearMissesShown) break;
        classes.emplace_back(shown(miss.type_name), miss.count);
    }
    rows.push_back(overlays::type_rule_hint(overlays::near_miss_text(
        classes, hints.near_misses.size() > overlays::kNearMissesShown, shown(rule_name))));
}

py::list render_type_rules_overlay(const py::object& entries) {
    std::unique_ptr<target::EntryTable> scratch;
    target::EntryTable& table = target::EntryTable::for_entries(entries, scratch);
    std::vector<overlays::TypeRuleRow> rows;
    for (const py::handle item : call_global("type_rule_entries", entries)) {
        py::tuple rule = unpack(item, 3);
        const std::u32string verb = text_of(call_global("mode_verb", rule[1]));
        const std::u32string arrow =
            colored(overlays::type_rule_arrow(verb), call_global("get_color_hex_for_mode", rule[1]));
        rows.push_back(overlays::type_rule_row(shown(rule[0]), verb, arrow, text_of(rule[2])));
        append_type_rule_hints(rows, table.type_rule_hints(rule[0]), rule[0], rule[2]);
    }
    return to_list(overlays::type_rules_box(rows));
}

py::list render_save_overlay(Args& a) {
    const py::object unset = call_global("unset_module_entries", a[0], a[1]);
    const py::object& selected_index = a[2];
    const std::size_t count = py::len(unset);

    std::vector<std::pair<std::u32string, std::u32string>> listed;
    for (const py::handle entry : unset) {
        if (listed.size() == overlays::kSaveListedUnset) break;
        listed.emplace_back(shown(entry[py::str("id")]), shown(entry[py::str("type_name")]));
    }
    auto selected = [&selected_index](std::size_t option) {
        return equals(py::int_(option), selected_index);
    };
    std::unique_ptr<target::EntryTable> scratch;
    std::size_t conflict_tensors = 0;
    const std::vector<std::u32string> conflicts =
        shared_conflict_texts(target::EntryTable::for_entries(a[0], scratch), a[1], conflict_tensors);
    return to_list(overlays::save_lines(listed, count, selected, shown(a[3]), conflicts, conflict_tensors));
}

}  // namespace

void register_overlays(py::module_& m) {
    def(m, "render_static_overlay", {"lines"}, nullptr,
        [](Args& a) -> py::object { return py::str("\n").attr("join")(a[0]); });
    def(m, "render_help_overlay", {}, nullptr, [](Args&) { return to_list(overlays::help_page().lines); });
    def(m, "render_legend_overlay", {}, "Describe the Targets-screen markers and colours.",
        [](Args&) { return to_list(overlays::legend_page().lines); });
    def(m, "render_quit_overlay", {}, nullptr, [](Args&) { return to_list(overlays::quit_page().lines); });
    def(m, "render_type_rules_overlay", {"entries"}, nullptr,
        [](Args& a) { return render_type_rules_overlay(a[0]); });
    def(m, "render_save_overlay", {"entries", "resolved", "save_selected_index", "config_target_path"},
        nullptr, [](Args& a) { return render_save_overlay(a); });
}

}  // namespace nvx::configure
