// Which per-module override scope a Targets row opens on Enter, or why it
// opens none: only dendrified modules have overrides; a module whose mode
// comes from a type rule shares the scope of its class, one whose mode is
// inherited is sent to the module where the mode was set.
#pragma once

#include <string>

namespace nvx::model {

// What a row's record says, asked in the order the rule asks.
class ScopeFacts {
public:
    virtual ~ScopeFacts() = default;
    // The row is a restructured module, or lies inside one.
    virtual bool restructured() = 0;
    // Its effective mode is None.
    virtual bool no_mode() = 0;
    // Its mode is inherited; `origin()` is then the id (as shown) it comes from.
    virtual bool inherited() = 0;
    virtual std::u32string origin() = 0;
    // Its mode is "dendrified".
    virtual bool dendrified() = 0;
    // Its mode comes from a type rule.
    virtual bool by_type() = 0;
};

struct OverrideScope {
    enum class Kind { Refused, ById, ByType };
    Kind kind = Kind::Refused;
    std::u32string reason;  // why there is none
};

OverrideScope override_scope(ScopeFacts& facts);

}  // namespace nvx::model
