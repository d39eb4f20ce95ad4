// The session's undo history of rule changes (p/t/P/T/x on the Targets
// screen). A change keeps what it takes to put one rule back (which rule, by
// id or by class, and its mode before) and what it takes to make it again (the
// user's action on a row), so its size does not depend on the model's size.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "core/model/rule_lists.hpp"

namespace nvx::session {

struct RuleChange {
    // The user's action, replayed on redo through the same rule.
    enum class Action { SetIdMode, SetTypeMode, Clear };
    Action action = Action::Clear;
    std::size_t row = 0;                                    // the row whose id or class name the action names
    model::ModeArgument mode = model::ModeArgument::Other;  // the mode given (Clear: none)

    // The one rule the action changed, and its mode before it.
    bool by_type = false;  // the rule on the row's class name, else on its id
    model::Mode before = model::Mode::None;

    std::u32string text;  // the change in words: "dendrify every Linear (225 modules)"
};

class RuleHistory {
public:
    // Changes kept for undo; the oldest go first beyond this.
    static constexpr std::size_t kCapacity = 1000;

    // A new change: the changes undone before it can no longer be redone.
    void record(RuleChange change);
    // The latest change not yet undone, now redoable; none when there is none.
    std::optional<RuleChange> undo();
    // The latest change undone, now undoable again.
    std::optional<RuleChange> redo();

private:
    std::deque<RuleChange> done_;
    std::vector<RuleChange> undone_;
};

}  // namespace nvx::session
