// Setting metadata read from the settings descriptions file beside the module:
// buckets, their settings in display order, help texts and tiers. The record is
// built once and cached in the module attribute DESCRIPTION_CACHE.
#pragma once

#include <pybind11/pybind11.h>

#include "core/settings/descriptions.hpp"

namespace nvx::configure {
namespace py = pybind11;

inline constexpr const char* kDescriptionFileName = "configuration_descriptions.json";

// `_normalize_label(value)`: the tier name for any value.
py::str normalize_label(const py::handle& label);

// `load_description_data()`: the cached record, building it on first use.
py::object load_description_data();

// Lookups on the record the description loader (a seam) returns now.
py::object get_setting_label(const py::handle& setting_name);
py::object get_setting_description(const py::handle& setting_name);
py::object get_bucket_description(const py::handle& bucket_name);

// The typed view of a description record: "bucket_order", each bucket's list
// from "settings_by_bucket" (none for a bucket without one) and each listed
// setting's tier from "setting_labels".
settings::Descriptions read_descriptions(const py::handle& record);

}  // namespace nvx::configure
