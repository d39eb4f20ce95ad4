#include "descriptions.hpp"

#include <cstddef>
#include <vector>

#include "common/interp.hpp"
#include "common/module_namespace.hpp"

namespace nvx::configure {
namespace {

// ASCII lower case only: no other code point lower-cases to a letter of the two
// impactful spellings (the Kelvin sign gives "k", U+0130 gives two code
// points), so this comparison equals comparing the interpreter's str.lower().
char32_t ascii_lower(char32_t c) {
    return (c >= U'A' && c <= U'Z') ? c + (U'a' - U'A') : c;
}

// The text split on white space (as str.split() with no separator) and joined
// with single blanks.
std::u32string collapse_white_space(const std::u32string& text) {
    std::u32string out;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && Py_UNICODE_ISSPACE(text[i])) ++i;
        if (i == text.size()) break;
        if (!out.empty()) out.push_back(U' ');
        while (i < text.size() && !Py_UNICODE_ISSPACE(text[i])) out.push_back(text[i++]);
    }
    return out;
}

bool equals_ignoring_ascii_case(const std::u32string& text, const std::u32string& lower) {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (ascii_lower(text[i]) != lower[i]) return false;
    }
    return true;
}

py::object description_file_path() {
    py::object os_path = global("os").attr("path");
    py::object directory = os_path.attr("dirname")(global("__file__"));
    return os_path.attr("join")(directory, global("DESCRIPTION_FILE_NAME"));
}

}  // namespace

bool is_impactful_label(const std::u32string& label) {
    const std::u32string words = collapse_white_space(label);
    return equals_ignoring_ascii_case(words, U"impactful") ||
           equals_ignoring_ascii_case(words, U"impactful hyperparameters");
}

py::str normalize_label(const py::handle& label) {
    if (is_str(label) && is_impactful_label(to_u32(label))) {
        return from_u32(kLabelImpactful);
    }
    return from_u32(kLabelSupporting);
}

py::object load_description_data() {
    py::object cached = global("DESCRIPTION_CACHE");
    if (!cached.is_none()) return cached;

    py::object path = description_file_path();
    py::object content = py::dict();
    try {
        content = read_json_file(path);
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
                    setting_labels[name] = from_u32(kLabelSupporting);
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
    module_namespace()["DESCRIPTION_CACHE"] = record;
    return std::move(record);
}

py::object get_setting_label(const py::handle& setting_name) {
    py::object labels = call_global("load_description_data")["setting_labels"];
    if (contains(labels, setting_name)) {
        return normalize_label(labels[setting_name]);
    }
    return from_u32(kLabelSupporting);
}

py::object get_setting_description(const py::handle& setting_name) {
    py::object texts = call_global("load_description_data")["settings"];
    if (contains(texts, setting_name)) {
        return texts[setting_name];
    }
    return from_u32(U"No description available for " + to_u32(to_str(setting_name)) + U".");
}

py::object get_bucket_description(const py::handle& bucket_name) {
    py::object texts = call_global("load_description_data")["buckets"];
    if (contains(texts, bucket_name)) {
        return texts[bucket_name];
    }
    return from_u32(U"No description available.");
}

}  // namespace nvx::configure
