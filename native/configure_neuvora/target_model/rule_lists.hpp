// The four rule lists of the configuration object, always read from and
// written to `GNV.pc` at the time of use.
#pragma once

#include <pybind11/pybind11.h>

namespace nvx::target {
namespace py = pybind11;

// The order is that of the accessor table in rule_lists.cpp.
enum class RuleList { IdsToDendrify, IdsToTrack, NamesToDendrify, NamesToTrack };

py::object fetch_rule_list(RuleList which);
void store_rule_list(RuleList which, const py::object& values);

}  // namespace nvx::target
