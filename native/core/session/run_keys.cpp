// Keys of the Run settings screen: movement past dividers, paging, buckets,
// descriptions, toggling booleans, cycling enumerated settings and opening
// the editors.
#include <utility>

#include "session.hpp"

namespace nvx::session {

using settings::RunItem;

RunRows::RunRows(settings::SettingsPort& port, const std::set<std::u32string>& expanded)
    : values(port.read_all()), descriptions(port.descriptions()) {
    for (std::size_t k = 0; k < values.size(); ++k) value_at_.emplace(values[k].first.text, k);
    items = settings::build_run_items(descriptions, [&](std::size_t bucket) {
        return expanded.count(descriptions.buckets[bucket].name.text) != 0;
    });
}

const settings::Name& RunRows::bucket_of(const RunItem& item) const {
    return descriptions.buckets[item.bucket].name;
}

const settings::Name& RunRows::setting_of(const RunItem& item) const {
    return descriptions.buckets[item.bucket].settings[item.setting].name;
}

settings::Value RunRows::value_of(const RunItem& item) const {
    const auto found = value_at_.find(setting_of(item).text);
    if (found != value_at_.end()) return values[found->second].second;
    settings::Value unavailable;
    unavailable.kind = settings::Value::Kind::Other;
    unavailable.own_text = settings::kUnavailable;
    return unavailable;
}

void Session::run_key(keys::Action action) {
    using keys::Action;
    settings::SettingsPort& port = world_.settings();
    const RunRows rows(port, state_.expanded_buckets);
    const std::vector<RunItem>& items = rows.items;
    const auto count = static_cast<long long>(items.size());
    if (count == 0) return;
    long long& selected = state_.run_selected;
    if (selected >= count) selected = count - 1;
    const RunItem& item = items[static_cast<std::size_t>(selected)];
    const auto is_divider = [&](long long index) {
        return items[static_cast<std::size_t>(index)].kind == RunItem::Kind::Divider;
    };

    switch (action) {
        case Action::MoveUp:
        case Action::MoveDown: {
            const long long step = *cursor_step(action);
            selected = moved(selected, step, count);
            while (selected > 0 && selected < count - 1 && is_divider(selected)) {
                selected = moved(selected, step, count);
            }
            state_.describe_name.clear();
            break;
        }
        case Action::First:
        case Action::Last: {
            // The first or last row, stepping inward off a divider like the other moves.
            const long long step = action == Action::First ? 1 : -1;
            long long index = action == Action::First ? 0 : count - 1;
            while (is_divider(index) && index + step >= 0 && index + step < count) index += step;
            selected = index;
            state_.describe_name.clear();
            break;
        }
        case Action::PageUp:
        case Action::PageDown:
            selected = moved(selected, *cursor_step(action), count);
            break;
        case Action::Expand:
            if (item.kind == RunItem::Kind::Bucket) state_.expanded_buckets.insert(rows.bucket_of(item).text);
            break;
        case Action::Collapse:
            state_.expanded_buckets.erase(rows.bucket_of(item).text);
            if (item.kind != RunItem::Kind::Bucket) {
                for (long long index = 0; index < count; ++index) {
                    const RunItem& candidate = items[static_cast<std::size_t>(index)];
                    if (candidate.kind == RunItem::Kind::Bucket && candidate.bucket == item.bucket) {
                        selected = index;
                        break;
                    }
                }
            }
            break;
        case Action::Describe:
            if (item.kind == RunItem::Kind::Setting) {
                const std::u32string& name = rows.setting_of(item).text;
                state_.describe_name = state_.describe_name == name ? U"" : name;
            }
            break;
        case Action::Edit:
            state_.describe_name.clear();
            if (item.kind == RunItem::Kind::Bucket) {
                const std::u32string& bucket = rows.bucket_of(item).text;
                if (item.expanded) {
                    state_.expanded_buckets.erase(bucket);
                } else {
                    state_.expanded_buckets.insert(bucket);
                }
            } else if (item.kind == RunItem::Kind::Setting) {
                edit_setting(rows.setting_of(item), rows.value_of(item));
            }
            break;
        default:
            break;
    }
}

void Session::edit_setting(const settings::Name& name, const settings::Value& value) {
    settings::SettingsPort& port = world_.settings();
    switch (settings::edit_kind(value, port.is_enumerated(name))) {
        case settings::EditKind::Toggle:
            state_.status = port.apply(name, settings::Value::boolean(!value.truth)).message;
            break;
        case settings::EditKind::Cycle:
            state_.status = port.cycle(name, value).message;
            break;
        case settings::EditKind::EditList:
            state_.list_editor = editors::new_list_editor(name, value.items, std::nullopt);
            break;
        case settings::EditKind::EditNumber:
            state_.scalar_editor = editors::new_scalar_editor(name, value, std::nullopt);
            break;
        case settings::EditKind::NotEditable:
            state_.status = name.text + U" cannot be edited from this screen.";
            break;
    }
}

}  // namespace nvx::session
