#include "rule_history.hpp"

#include <utility>

namespace nvx::session {

void RuleHistory::record(RuleChange change) {
    undone_.clear();
    done_.push_back(std::move(change));
    if (done_.size() > kCapacity) done_.pop_front();
}

namespace {

// Moves the latest change of `from` onto `to` and returns it.
template <typename From, typename To>
std::optional<RuleChange> move_latest(From& from, To& to) {
    if (from.empty()) return std::nullopt;
    to.push_back(std::move(from.back()));
    from.pop_back();
    return to.back();
}

}  // namespace

std::optional<RuleChange> RuleHistory::undo() {
    return move_latest(done_, undone_);
}

std::optional<RuleChange> RuleHistory::redo() {
    return move_latest(undone_, done_);
}

}  // namespace nvx::session
