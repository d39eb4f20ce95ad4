#include "override_scopes.hpp"

#include "common/interp.hpp"
#include "core/model/override_scope.hpp"
#include "names.hpp"
#include "records.hpp"

namespace nvx::target {
namespace {

// The facts of one entry and its record, each read when the rule asks.
class EntryScopeFacts final : public model::ScopeFacts {
public:
    EntryScopeFacts(const py::handle& entry, const py::handle& resolved)
        : entry_(entry), record_(get_item(resolved, get_item(entry, names().id))) {}

    bool restructured() override {
        return truthy(get_item(entry_, names().is_replaced_root)) ||
               truthy(get_item(entry_, names().in_replaced));
    }
    bool no_mode() override { return eff().is_none(); }
    bool inherited() override { return is_word(source(), names().inherited); }
    std::u32string origin() override { return to_u32(to_str(get_item(record_, names().origin_id))); }
    bool dendrified() override { return is_word(eff(), names().dendrified); }
    bool by_type() override { return is_word(source(), names().type_source); }

private:
    const py::object& eff() {
        if (!eff_) eff_ = get_item(record_, names().eff);
        return eff_;
    }
    const py::object& source() {
        if (!source_) source_ = get_item(record_, names().source);
        return source_;
    }

    py::handle entry_;
    py::object record_;
    py::object eff_;
    py::object source_;
};

}  // namespace

py::tuple override_scope_for_entry(const py::handle& entry, const py::handle& resolved) {
    EntryScopeFacts facts(entry, resolved);
    const model::OverrideScope scope = model::override_scope(facts);
    if (scope.kind == model::OverrideScope::Kind::Refused)
        return py::make_tuple(py::none(), from_u32(scope.reason));
    const bool by_type = scope.kind == model::OverrideScope::Kind::ByType;
    py::dict found;
    found["kind"] = py::str(by_type ? "type" : "id");
    found["scope_key"] = get_item(entry, by_type ? names().type_name : names().id);
    return py::make_tuple(found, py::none());
}

}  // namespace nvx::target
