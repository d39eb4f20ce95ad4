#include "rule_history.hpp"

#include <utility>

namespace nvx::configure {

void RuleHistory::record(RuleChange change) {
    undone_.clear();
    done_.push_back(std::move(change));
    if (done_.size() > kCapacity) done_.pop_front();
}

std::optional<RuleChange> RuleHistory::undo() {
    if (done_.empty()) return std::nullopt;
    RuleChange change = std::move(done_.back());
    done_.pop_back();
    undone_.push_back(change);
    return change;
}

std::optional<RuleChange> RuleHistory::redo() {
    if (undone_.empty()) return std::nullopt;
    RuleChange change = std::move(undone_.back());
    undone_.pop_back();
    done_.push_back(change);
    return change;
}

}  // namespace nvx::configure
