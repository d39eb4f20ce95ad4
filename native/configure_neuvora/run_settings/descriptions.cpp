#include "descriptions.hpp"

#include "common/interp.hpp"
#include "configure_neuvora/seams.hpp"
#include "core/settings/setting_names.hpp"
#include "value_bridge.hpp"

namespace nvx::configure {
namespace {

py::object description_file_path() {
    py::object os_path = seam(Seam::Os).attr("path");
    py::object directory = os_path.attr("dirname")(seam(Seam::File));
    return os_path.attr("join")(directory, kDescriptionFileName);
}

py::object current_record() {
    return call_seam(Seam::LoadDescriptionData);
}

// The record's entry for `name` in one of its maps, or a null object.
py::object lookup(const char* map, const py::handle& name) {
    py::object texts = current_record()[map];
    if (!contains(texts, name)) return {};
    return texts[name];
}

bool is_impactful(const py::handle& label) {
    return is_str(label) && settings::is_impactful_label(to_u32(label));
}

}  // namespace

py::str normalize_label(const py::handle& label) {
    return from_u32(is_impactful(label) ? settings::kLabelImpactful : settings::kLabelSupporting);
}

py::object load_description_data() {
    py::object cached = seam(Seam::DescriptionCache);
    if (!cached.is_none()) return cached;

    py::object content = py::dict();
    try {
        content = read_json_file(description_file_path());
    } catch (py::error_already_set& e) {
        // Missing, unreadable or malformed: the file counts as empty.
        if (!e.matches(PyExc_Exception)) throw;
    }

    // Wrongly shaped content fails here with the interpreter's own errors.
    py::object buckets = content.attr("get")("buckets", py::dict());

    py::dict bucket_texts, setting_texts, setting_labels, setting_to_bucket, settings_by_bucket;
    py::list bucket_order;
    const py::str empty("");
    for (py::handle pair : py::iter(buckets.attr("items")())) {
        py::object bucket = pair[py::int_(0)];
        py::object bucket_value = pair[py::int_(1)];
        bucket_order.append(bucket);
        if (is_dict(bucket_value)) {
            bucket_texts[bucket] = bucket_value.attr("get")("description", empty);
            py::object settings = bucket_value.attr("get")("settings", py::dict());
            py::list names;
            for (py::handle setting_pair : py::iter(settings.attr("items")())) {
                py::object name = setting_pair[py::int_(0)];
                py::object value = setting_pair[py::int_(1)];
                names.append(name);
                setting_to_bucket[name] = bucket;
                if (is_dict(value)) {
                    setting_texts[name] = value.attr("get")("description", empty);
                    setting_labels[name] = normalize_label(value.attr("get")("label", py::none()));
                } else if (is_str(value)) {
                    setting_texts[name] = value;
                    setting_labels[name] = from_u32(settings::kLabelSupporting);
                }
            }
            settings_by_bucket[bucket] = names;
        } else if (is_str(bucket_value)) {
            bucket_texts[bucket] = bucket_value;
        }
    }

    py::dict record;
    record["buckets"] = bucket_texts;
    record["bucket_order"] = bucket_order;
    record["settings"] = setting_texts;
    record["setting_labels"] = setting_labels;
    record["setting_to_bucket"] = setting_to_bucket;
    record["settings_by_bucket"] = settings_by_bucket;
    set_seam(Seam::DescriptionCache, record);
    return std::move(record);
}

py::object get_setting_label(const py::handle& setting_name) {
    if (py::object label = lookup("setting_labels", setting_name)) return normalize_label(label);
    return from_u32(settings::kLabelSupporting);
}

py::object get_setting_description(const py::handle& setting_name) {
    if (py::object text = lookup("settings", setting_name)) return text;
    return from_u32(settings::missing_setting_help(to_u32(to_str(setting_name))));
}

py::object get_bucket_description(const py::handle& bucket_name) {
    if (py::object text = lookup("buckets", bucket_name)) return text;
    return from_u32(settings::missing_bucket_help());
}

settings::Descriptions read_descriptions(const py::handle& record) {
    py::object by_bucket = record["settings_by_bucket"];
    py::object labels = record["setting_labels"];
    const py::str runtime_only = from_u32(settings::kRuntimeOnlySetting);
    settings::Descriptions descriptions;
    for (py::handle bucket : py::object(record["bucket_order"])) {
        settings::Bucket& entry = descriptions.buckets.emplace_back();
        entry.name = to_name(bucket);
        if (!contains(by_bucket, bucket)) continue;
        for (py::handle name : py::object(by_bucket[bucket])) {
            settings::SettingEntry setting;
            setting.name = to_name(name);
            setting.runtime_only = is_str(name) && equals(name, runtime_only);
            setting.impactful = contains(labels, name) && is_impactful(normalize_label(labels[name]));
            entry.settings.push_back(std::move(setting));
        }
    }
    return descriptions;
}

}  // namespace nvx::configure
