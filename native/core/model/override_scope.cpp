#include "override_scope.hpp"

namespace nvx::model {
namespace {

OverrideScope refused(std::u32string reason) {
    return {OverrideScope::Kind::Refused, std::move(reason)};
}

}  // namespace

OverrideScope override_scope(ScopeFacts& facts) {
    if (facts.restructured()) {
        return refused(U"Overrides are not available inside a module that will be restructured.");
    }
    if (facts.no_mode()) {
        return refused(
            U"Overrides are only for dendrified modules. Dendrify this one first (p), or track it if you "
            U"just want it monitored.");
    }
    if (facts.inherited()) {
        const std::u32string origin = facts.origin();
        return refused(U"This module inherits " + origin + U"'s mode. Open overrides on " + origin +
                       U" to change settings for the whole subtree.");
    }
    if (!facts.dendrified())
        return refused(U"Overrides are only for dendrified modules \u2014 this one is tracked.");
    return {facts.by_type() ? OverrideScope::Kind::ByType : OverrideScope::Kind::ById, {}};
}

}  // namespace nvx::model
