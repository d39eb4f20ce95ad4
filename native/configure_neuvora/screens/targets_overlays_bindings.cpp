// Python face of the two overlays drawn from the target model: the type-rules
// block and the save overlay.
#include <vector>

#include "common/functions.hpp"
#include "common/interp.hpp"
#include "configure_neuvora/registry.hpp"
#include "configure_neuvora/target_model/config_rules.hpp"
#include "configure_neuvora/target_model/entry_reader.hpp"
#include "configure_neuvora/target_model/records.hpp"
#include "core/model/queries.hpp"
#include "core/screens/row_views.hpp"
#include "core/screens/save_text.hpp"
#include "core/screens/type_rules_text.hpp"
#include "core/text/display_text.hpp"

namespace nvx::configure {
namespace {

using model::Field;

py::list lines_list(const overlays::Lines& lines) {
    py::list out;
    for (const auto& line : lines) out.append(from_u32(line));
    return out;
}

py::list render_type_rules_overlay(const py::object& entries) {
    target::EntryReader reader(entries);
    reader.load({Field::InReplaced, Field::TypeName});
    target::ConfigRules rules(reader.pool());
    const std::vector<model::TypeRule> found =
        reader.run([&] { return model::type_rules(reader.table(), rules, rules.oracle()); });
    reader.load_class_uses();
    return lines_list(
        overlays::type_rules_box(targets::type_rule_views(reader.table(), found, rules.oracle())));
}

py::list render_save_overlay(Args& a) {
    const py::object& resolved = a[1];
    GcPause pause;
    target::EntryReader reader(a[0]);
    reader.load({Field::InReplaced, Field::IsReplacedRoot, Field::DirectParamCount, Field::Id});
    std::vector<std::size_t> unset;
    reader.run([&] {
        model::each_unset(
            reader.table(), [&](std::size_t row) { return target::eff_in(resolved, reader, row).is_none(); },
            [&](std::size_t row) { unset.push_back(row); });
    });
    reader.load({Field::TypeName});
    std::vector<std::pair<std::u32string, std::u32string>> listed;
    reader.run([&] {
        for (const std::size_t row : unset) {
            if (listed.size() == overlays::kSaveListedUnset) break;
            listed.emplace_back(targets::shown_text(reader.table().id(row), reader.oracle()),
                                targets::shown_text(reader.table().type_name(row), reader.oracle()));
        }
    });
    const std::u32string path = display::escape_controls(to_u32(to_str(a[3])));
    const std::size_t options = overlays::save_options(unset.size(), path).size();
    std::optional<std::size_t> selected;
    for (std::size_t i = 0; i < options && !selected; ++i) {
        if (equals(py::int_(i), a[2])) selected = i;
    }
    reader.load_parameters();
    const model::SharedConflicts conflicts =
        model::shared_conflicts(model::find_sharing(reader.table()), [&](std::size_t row) {
            return reader.run([&] { return target::mode_of(target::eff_in(resolved, reader, row)); });
        });
    std::vector<std::u32string> conflict_texts;
    for (const model::SharedConflict& pair : conflicts.pairs) {
        conflict_texts.push_back(targets::conflict_text(targets::conflict_note(pair, [&](std::size_t row) {
            return targets::shown_text(reader.table().ids.values[row], reader.oracle());
        })));
    }
    return lines_list(
        overlays::save_frame(listed, unset.size(), selected, path, conflict_texts, conflicts.tensors).lines);
}

}  // namespace

void register_targets_overlays(py::module_& m) {
    def(m, "render_type_rules_overlay", {"entries"}, nullptr,
        [](Args& a) { return render_type_rules_overlay(a[0]); });
    def(m, "render_save_overlay", {"entries", "resolved", "save_selected_index", "config_target_path"},
        nullptr, [](Args& a) { return render_save_overlay(a); });
}

}  // namespace nvx::configure
