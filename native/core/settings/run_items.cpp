#include "run_items.hpp"

namespace nvx::settings {

std::vector<RunItem> build_run_items(const Descriptions& descriptions,
                                     const std::function<bool(std::size_t bucket)>& is_expanded) {
    std::vector<RunItem> items;
    for (std::size_t b = 0; b < descriptions.buckets.size(); ++b) {
        std::vector<std::size_t> impactful;
        std::vector<std::size_t> supporting;
        const std::vector<SettingEntry>& settings = descriptions.buckets[b].settings;
        for (std::size_t s = 0; s < settings.size(); ++s) {
            if (settings[s].runtime_only) continue;
            (settings[s].impactful ? impactful : supporting).push_back(s);
        }
        const std::size_t count = impactful.size() + supporting.size();
        if (count == 0) continue;
        const bool expanded = is_expanded(b);
        items.push_back({RunItem::Kind::Bucket, b, 0, count, expanded});
        if (!expanded) continue;
        for (const std::size_t s : impactful) items.push_back({RunItem::Kind::Setting, b, s});
        if (!impactful.empty() && !supporting.empty()) items.push_back({RunItem::Kind::Divider, b});
        for (const std::size_t s : supporting) items.push_back({RunItem::Kind::Setting, b, s});
    }
    return items;
}

EditKind edit_kind(const Value& value, bool enumerated) {
    // A boolean is also an integer: it is tested first.
    if (value.kind == Value::Kind::Bool) return EditKind::Toggle;
    if (enumerated) return EditKind::Cycle;
    if (value.kind == Value::Kind::List) return EditKind::EditList;
    if (value.is_number()) return EditKind::EditNumber;
    return EditKind::NotEditable;
}

}  // namespace nvx::settings
