// The session's undo history of rule changes (p/t/P/T/x on the Targets
// screen). A change keeps what it takes to put one rule back (the id or class
// name and its mode before) and what it takes to make it again (the action the
// user took), so its size does not depend on the model's size.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace nvx::configure {
namespace py = pybind11;

struct RuleChange {
    // The user's action, replayed on redo through the same rule function.
    enum class Action { SetIdMode, SetTypeMode, Clear };
    Action action;
    py::object argument;  // the module id, the class name, or the entry cleared
    py::object mode;      // the mode passed (None for Clear)

    // The one rule the action changed, and its mode before it.
    bool by_type = false;  // a class-name rule, else an id rule
    py::object key;        // the module id or class name
    py::object before;     // "dendrified", "tracked" or None

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

}  // namespace nvx::configure
