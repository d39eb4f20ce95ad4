// Setting metadata read from the settings descriptions file beside the module:
// buckets, their settings in display order, help texts and tiers. The record is
// built once and cached in the module attribute DESCRIPTION_CACHE.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace nvx::configure {
namespace py = pybind11;

inline const std::u32string kLabelImpactful = U"impactful";
inline const std::u32string kLabelSupporting = U"supporting";

// True when a label text names the impactful tier: after trimming, collapsing
// inner white space and lower-casing it reads "impactful" or
// "impactful hyperparameters".
bool is_impactful_label(const std::u32string& label);

// `_normalize_label(value)`: the tier name for any value.
py::str normalize_label(const py::handle& label);

// `load_description_data()`: the cached record, building it on first use.
py::object load_description_data();

// Lookups on the record returned by the module's `load_description_data`.
py::object get_setting_label(const py::handle& setting_name);
py::object get_setting_description(const py::handle& setting_name);
py::object get_bucket_description(const py::handle& bucket_name);

}  // namespace nvx::configure
