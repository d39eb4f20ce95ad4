#include "run_screen.hpp"

#include <climits>
#include <optional>

#include "common/interp.hpp"
#include "common/module_namespace.hpp"
#include "configure_neuvora/run_settings/descriptions.hpp"
#include "configure_neuvora/run_settings/setting_values.hpp"
#include "core/text/display_text.hpp"
#include "core/text/styling.hpp"

namespace nvx::configure {

namespace run_lines {
namespace {

const std::u32string& pointer(bool selected) {
    static const std::u32string marked = style::color_text(U"> ", style::kColorTitle);
    static const std::u32string blank = U"  ";
    return selected ? marked : blank;
}

}  // namespace

std::u32string title() {
    return style::dim(U"  Run settings \u2014 run-wide configuration");
}

std::u32string bucket(bool selected, bool expanded, const std::u32string& name, const std::u32string& count) {
    static const std::u32string open = style::color_text(U"\u25be", style::kColorAccent);
    static const std::u32string closed = style::color_text(U"\u25b8", style::kColorAccent);
    return pointer(selected) + (expanded ? open : closed) + U" " + name + U" " +
           style::dim(U"(" + count + U")");
}

std::u32string divider() {
    static const std::u32string line = U"     " + style::dim(U"\u2500 rarely changed \u2500");
    return line;
}

std::u32string setting(bool selected, const std::u32string& name, const std::u32string& value_text,
                       Hint hint) {
    static const std::u32string cycles = style::dim(U"  (Enter cycles)");
    static const std::u32string toggles = style::dim(U"  (Enter toggles)");
    std::u32string line = pointer(selected);
    line.reserve(line.size() + name.size() + value_text.size() + 40);
    line += U"  ";
    line += name;
    line += U" = ";
    line += value_text;
    if (hint == Hint::kCycles) line += cycles;
    if (hint == Hint::kToggles) line += toggles;
    return line;
}

std::u32string key_hints() {
    return style::dim(
        U"\u2192 expand \u00b7 \u2190 collapse   Enter edit   h describe   \u2191\u2193/jk move   Tab switch "
        U"panel   "
        U"s start");
}

std::u32string describe(const std::u32string& name, const std::u32string& help_text) {
    return style::dim(name + U" \u2014 " + help_text);
}

}  // namespace run_lines

namespace {

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

// Interned keys and kind names of run items, made once per call.
struct RowFields {
    py::str type = interned("type"), bucket = interned("bucket"), is_expanded = interned("is_expanded"),
            count = interned("count"), name = interned("name"), value = interned("value");
    py::str bucket_kind = interned("bucket"), setting_kind = interned("setting"),
            divider_kind = interned("divider");

    static py::str interned(const char* text) { return py::reinterpret_borrow<py::str>(intern(text)); }
};

py::dict item_of(std::initializer_list<std::pair<const py::str*, py::handle>> fields) {
    py::dict item;
    for (const auto& [key, value] : fields) {
        if (PyDict_SetItem(item.ptr(), key->ptr(), value.ptr()) < 0) throw py::error_already_set();
    }
    return item;
}

// The row kind, compared as the interpreter compares `item["type"] == "bucket"`.
enum class RowKind { kBucket, kDivider, kSetting };

RowKind row_kind(const py::handle& type) {
    if (is_str(type)) {
        if (PyUnicode_CompareWithASCIIString(type.ptr(), "bucket") == 0) return RowKind::kBucket;
        if (PyUnicode_CompareWithASCIIString(type.ptr(), "divider") == 0) return RowKind::kDivider;
        return RowKind::kSetting;
    }
    if (equals(type, py::str("bucket"))) return RowKind::kBucket;
    if (equals(type, py::str("divider"))) return RowKind::kDivider;
    return RowKind::kSetting;
}

// `str(value)` as drawn: names, values and descriptions come from outside.
std::u32string drawn_text(const py::handle& value) {
    return display::escape_controls(to_u32(to_str(value)));
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
    bool operator()(Py_ssize_t i) const {
        if (exact_) return *exact_ == static_cast<long long>(i);
        return equals(py::int_(i), selected_);
    }

private:
    py::handle selected_;
    std::optional<long long> exact_;  // LLONG_MIN for an integer out of range: never equal
};

}  // namespace

py::list build_run_items(const py::handle& expanded_buckets) {
    py::object values = call_global("get_all_global_parameters");
    py::object record = call_global("load_description_data");
    py::object by_bucket = record["settings_by_bucket"];
    py::object runtime_only = global("RUNTIME_ONLY_CONFIG_KEYS");
    const py::str unavailable = from_u32(kUnavailable);
    const py::str impactful_label = from_u32(kLabelImpactful);

    const RowFields f;
    py::list items;
    for (py::handle bucket : py::object(record["bucket_order"])) {
        py::list names;
        if (contains(by_bucket, bucket)) {
            for (py::handle name : py::object(by_bucket[bucket])) {
                if (!contains(runtime_only, name)) names.append(name);
            }
        }
        if (names.empty()) continue;
        py::object is_expanded = get_or(expanded_buckets, bucket, py::bool_(false));
        items.append(item_of({{&f.type, f.bucket_kind},
                              {&f.bucket, bucket},
                              {&f.is_expanded, is_expanded},
                              {&f.count, py::int_(names.size())}}));
        if (!truthy(is_expanded)) continue;

        py::list impactful, supporting;
        for (py::handle name : names) {
            (equals(get_setting_label(name), impactful_label) ? impactful : supporting).append(name);
        }
        auto append_settings = [&](const py::list& tier) {
            for (py::handle name : tier) {
                items.append(item_of({{&f.type, f.setting_kind},
                                      {&f.bucket, bucket},
                                      {&f.name, name},
                                      {&f.value, get_or(values, name, unavailable)}}));
            }
        };
        append_settings(impactful);
        if (!impactful.empty() && !supporting.empty()) {
            items.append(item_of({{&f.type, f.divider_kind}, {&f.bucket, bucket}}));
        }
        append_settings(supporting);
    }
    return items;
}

py::tuple render_run_settings_lines(const py::handle& items, const py::handle& selected_index,
                                    const py::handle& describe_name) {
    const py::str horizontal_rule = from_u32(style::horizontal_rule());
    py::list header;
    header.append(call_global("render_tab_bar", "run"));
    header.append(py::str(""));
    header.append(from_u32(run_lines::title()));
    header.append(horizontal_rule);

    const SelectedRow is_selected(selected_index);
    const py::str type_key("type"), bucket_key("bucket"), expanded_key("is_expanded"), count_key("count"),
        name_key("name"), value_key("value");
    py::list body;
    Py_ssize_t i = 0;
    for (py::handle item : py::iter(items)) {
        const bool selected = is_selected(i++);
        switch (row_kind(item[type_key])) {
            case RowKind::kBucket:
                body.append(
                    from_u32(run_lines::bucket(selected, truthy(item[expanded_key]),
                                               drawn_text(item[bucket_key]), drawn_text(item[count_key]))));
                break;
            case RowKind::kDivider:
                body.append(from_u32(run_lines::divider()));
                break;
            case RowKind::kSetting: {
                py::object name = item[name_key];
                py::object value = item[value_key];
                const std::u32string value_text = drawn_text(format_run_setting_value(name, value));
                run_lines::Hint hint = run_lines::Hint::kNone;
                if (!get_enum_options(name).is_none()) {
                    hint = run_lines::Hint::kCycles;
                } else if (is_bool(value)) {
                    hint = run_lines::Hint::kToggles;
                }
                body.append(from_u32(run_lines::setting(selected, drawn_text(name), value_text, hint)));
                break;
            }
        }
    }

    py::list footer;
    footer.append(horizontal_rule);
    if (truthy(describe_name)) {
        footer.append(from_u32(run_lines::describe(drawn_text(describe_name),
                                                   drawn_text(get_setting_description(describe_name)))));
    } else {
        footer.append(from_u32(run_lines::key_hints()));
    }
    py::object end = py::reinterpret_borrow<py::object>(selected_index) + py::int_(1);
    return py::make_tuple(header, body, footer,
                          py::make_tuple(py::reinterpret_borrow<py::object>(selected_index), end));
}

}  // namespace nvx::configure
