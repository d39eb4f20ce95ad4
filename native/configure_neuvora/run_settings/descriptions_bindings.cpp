#include "common/functions.hpp"
#include "common/interp.hpp"
#include "configure_neuvora/registry.hpp"
#include "descriptions.hpp"

namespace nvx::configure {

void register_descriptions(py::module_& m) {
    m.attr("DESCRIPTION_FILE_NAME") = py::str(kDescriptionFileName);
    m.attr("DESCRIPTION_CACHE") = py::none();
    m.attr("LABEL_IMPACTFUL") = from_u32(settings::kLabelImpactful);
    m.attr("LABEL_SUPPORTING") = from_u32(settings::kLabelSupporting);

    def(m, "load_description_data", {}, "Load bucket and setting metadata from local JSON.",
        [](Args&) { return load_description_data(); });
    def(m, "_normalize_label", {"label_text"},
        "Normalize a label to one of the two tiers: impactful / supporting.",
        [](Args& a) { return normalize_label(a[0]); });
    def(m, "get_setting_label", {"setting_name"}, "Get the tier (impactful / supporting) for one setting.",
        [](Args& a) { return get_setting_label(a[0]); });
    def(m, "get_setting_description", {"setting_name"}, "Help text for one setting.",
        [](Args& a) { return get_setting_description(a[0]); });
    def(m, "get_bucket_description", {"bucket_name"}, nullptr,
        [](Args& a) { return get_bucket_description(a[0]); });
}

}  // namespace nvx::configure
