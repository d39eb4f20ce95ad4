#include "run_screen.hpp"

#include <climits>
#include <optional>
#include <utility>
#include <vector>

#include "common/interp.hpp"
#include "configure_neuvora/run_settings/descriptions.hpp"
#include "configure_neuvora/run_settings/interpreter_settings.hpp"
#include "configure_neuvora/run_settings/value_bridge.hpp"
#include "configure_neuvora/seams.hpp"
#include "core/screens/run_frame.hpp"

namespace nvx::configure {
namespace {

using settings::RunItem;

// `mapping.get(key, fallback)`.
py::object get_or(const py::handle& mapping, const py::handle& key, const py::handle& fallback) {
    if (PyDict_CheckExact(mapping.ptr())) {
        PyObject* found = PyDict_GetItemWithError(mapping.ptr(), key.ptr());  // borrowed
        if (found != nullptr) return py::reinterpret_borrow<py::object>(found);
        if (PyErr_Occurred()) throw py::error_already_set();
        return py::reinterpret_borrow<py::object>(fallback);
    }
    return mapping.attr("get")(key, fallback);
}

py::str interned(const char* text) {
    return py::reinterpret_borrow<py::str>(intern(text));
}

// Interned keys and kind names of run items, made once per call.
struct RowFields {
    py::str type = interned("type"), bucket = interned("bucket"), is_expanded = interned("is_expanded"),
            count = interned("count"), name = interned("name"), value = interned("value");
    py::str bucket_kind = interned("bucket"), setting_kind = interned("setting"),
            divider_kind = interned("divider");
};

py::dict item_of(std::initializer_list<std::pair<const py::str*, py::handle>> fields) {
    py::dict item;
    for (const auto& [key, value] : fields) {
        set_item(item.ptr(), key->ptr(), value.ptr());
    }
    return item;
}

// The row kind, compared as the interpreter compares `item["type"] == "bucket"`.
RunItem::Kind row_kind(const py::handle& type) {
    if (is_str(type)) {
        if (PyUnicode_CompareWithASCIIString(type.ptr(), "bucket") == 0) return RunItem::Kind::Bucket;
        if (PyUnicode_CompareWithASCIIString(type.ptr(), "divider") == 0) return RunItem::Kind::Divider;
        return RunItem::Kind::Setting;
    }
    if (equals(type, py::str("bucket"))) return RunItem::Kind::Bucket;
    if (equals(type, py::str("divider"))) return RunItem::Kind::Divider;
    return RunItem::Kind::Setting;
}

std::u32string str_text(const py::handle& value) {
    return to_u32(to_str(value));
}

// Tells whether row i is the selected one, comparing as `i == selected_index`.
class SelectedRow {
public:
    explicit SelectedRow(const py::handle& selected) : selected_(selected) {
        if (PyLong_Check(selected.ptr())) {
            int overflow = 0;
            const long long value = PyLong_AsLongLongAndOverflow(selected.ptr(), &overflow);
            if (value == -1 && PyErr_Occurred()) throw py::error_already_set();
            exact_ = overflow == 0 ? std::optional<long long>(value) : std::optional<long long>(LLONG_MIN);
        }
    }
    bool operator()(long long i) const {
        if (exact_) return *exact_ == i;
        return equals(py::int_(i), selected_);
    }

private:
    py::handle selected_;
    std::optional<long long> exact_;  // LLONG_MIN for an integer out of range: never equal
};

// One row's parts read from a run item, as the interpreter reads them.
screens::RunRow read_row(const py::handle& item, bool selected, const RowFields& f,
                         settings::SettingsPort& settings) {
    screens::RunRow row;
    row.kind = row_kind(item[f.type]);
    row.selected = selected;
    switch (row.kind) {
        case RunItem::Kind::Bucket:
            row.expanded = truthy(item[f.is_expanded]);
            row.name = str_text(item[f.bucket]);
            row.count = str_text(item[f.count]);
            break;
        case RunItem::Kind::Divider:
            break;
        case RunItem::Kind::Setting: {
            const settings::Name name = to_name(item[f.name]);
            const settings::Value value = to_value(item[f.value]);
            row.value_text = settings.display_text(name, value);
            row.hint = screens::run_hint(settings.is_enumerated(name), value);
            row.name = name.text;
            break;
        }
    }
    return row;
}

py::list line_list(const std::vector<layout::FrameLine>& lines) {
    py::list out;
    for (const layout::FrameLine& line : lines) out.append(from_u32(line.text));
    return out;
}

}  // namespace

py::list build_run_items(const py::handle& expanded_buckets) {
    py::object values = call_seam(Seam::GetAllGlobalParameters);
    const settings::Descriptions descriptions = InterpreterSettings().descriptions();
    // Each bucket's entry of the map, stored in its row as it is.
    std::vector<py::object> expanded(descriptions.buckets.size());
    const py::object collapsed = py::bool_(false);
    std::vector<RunItem> rows = settings::build_run_items(descriptions, [&](std::size_t bucket) {
        expanded[bucket] = get_or(expanded_buckets, to_object(descriptions.buckets[bucket].name), collapsed);
        return truthy(expanded[bucket]);
    });

    const py::str unavailable = from_u32(settings::kUnavailable);
    const RowFields f;
    py::list items;
    for (const RunItem& row : rows) {
        const settings::Bucket& bucket = descriptions.buckets[row.bucket];
        const py::object bucket_name = to_object(bucket.name);
        switch (row.kind) {
            case RunItem::Kind::Bucket:
                items.append(item_of({{&f.type, f.bucket_kind},
                                      {&f.bucket, bucket_name},
                                      {&f.is_expanded, expanded[row.bucket]},
                                      {&f.count, py::int_(row.count)}}));
                break;
            case RunItem::Kind::Divider:
                items.append(item_of({{&f.type, f.divider_kind}, {&f.bucket, bucket_name}}));
                break;
            case RunItem::Kind::Setting: {
                const py::object name = to_object(bucket.settings[row.setting].name);
                items.append(item_of({{&f.type, f.setting_kind},
                                      {&f.bucket, bucket_name},
                                      {&f.name, name},
                                      {&f.value, get_or(values, name, unavailable)}}));
                break;
            }
        }
    }
    return items;
}

py::tuple render_run_settings_lines(const py::handle& items, const py::handle& selected_index,
                                    const py::handle& describe_name) {
    // Every row is read before the description, as the lines are built.
    InterpreterSettings settings;
    const SelectedRow is_selected(selected_index);
    const RowFields f;
    std::vector<screens::RunRow> rows;
    for (py::handle item : py::iter(items)) {
        const auto i = static_cast<long long>(rows.size());
        rows.push_back(read_row(item, is_selected(i), f, settings));
    }
    std::optional<std::pair<std::u32string, std::u32string>> described;
    if (truthy(describe_name)) {
        described.emplace(str_text(describe_name), str_text(get_setting_description(describe_name)));
    }
    const layout::ScreenFrame frame = screens::run_settings_frame(
        static_cast<long long>(rows.size()),
        [&rows](long long i) { return rows[static_cast<std::size_t>(i)]; }, described, std::nullopt);

    py::list body;
    for (long long i = 0; i < frame.body_count; ++i) body.append(from_u32(frame.body_line(i)));
    py::object end = py::reinterpret_borrow<py::object>(selected_index) + py::int_(1);
    return py::make_tuple(line_list(frame.header), body, line_list(frame.footer),
                          py::make_tuple(py::reinterpret_borrow<py::object>(selected_index), end));
}

}  // namespace nvx::configure
