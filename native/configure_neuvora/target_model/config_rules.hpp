// The four rule lists where they live: the configuration object `GNV.pc`,
// read through its getters and written through its setters at the time of use.
#pragma once

#include <pybind11/pybind11.h>

#include "core/model/rule_lists.hpp"
#include "py_names.hpp"

namespace nvx::target {
namespace py = pybind11;

class ConfigRules final : public model::RuleStore {
public:
    // Values read are kept in `pool`, so they are written back as the same objects.
    explicit ConfigRules(ObjectPool& pool) : pool_(&pool), oracle_(pool) {}

    model::RuleList fetch(model::RuleKind which) override;
    void store(model::RuleKind which, const std::vector<model::Name>& values) override;

    PyOracle& oracle() { return oracle_; }

private:
    ObjectPool* pool_;
    PyOracle oracle_;
};

// A mode argument as the rules compare it with the mode words.
model::ModeArgument mode_argument(const py::handle& mode);

}  // namespace nvx::target
