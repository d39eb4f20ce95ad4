// The settings descriptions record as the core reads it: the buckets in
// display order and the settings each lists, with their tier. The adapter
// builds it from whatever the description loader returns; help texts are
// looked up one at a time (SettingsPort::setting_help), as a frame shows at
// most one.
#pragma once

#include <string>
#include <vector>

#include "value.hpp"

namespace nvx::settings {

inline const std::u32string kLabelImpactful = U"impactful";
inline const std::u32string kLabelSupporting = U"supporting";

struct SettingEntry {
    Name name;
    bool impactful = false;     // listed before the bucket's "rarely changed" divider
    bool runtime_only = false;  // never listed (kRuntimeOnlySetting)
};

struct Bucket {
    Name name;
    std::vector<SettingEntry> settings;  // in file order
};

struct Descriptions {
    std::vector<Bucket> buckets;  // in "bucket_order"
};

// The help texts of a setting and of a bucket that the file does not describe.
std::u32string missing_setting_help(const std::u32string& name);
std::u32string missing_bucket_help();

// True when a label names the impactful tier: split on white space (as the
// interpreter's str.split() does), joined with single blanks and lower-cased,
// it reads "impactful" or "impactful hyperparameters".
bool is_impactful_label(const std::u32string& label);

}  // namespace nvx::settings
