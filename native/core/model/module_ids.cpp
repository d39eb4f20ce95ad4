#include "module_ids.hpp"

#include <unordered_map>

namespace nvx::model {

std::optional<std::string_view> parent_id(std::string_view id, std::string& scratch) {
    const std::size_t first = id.find('.');
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t last = id.rfind('.');
    if (last == first) {
        return std::nullopt;  // two pieces
    }
    if (first == 0) {
        return id.substr(0, last);
    }
    scratch.assign(1, '.');
    scratch.append(id.substr(first + 1, last - first - 1));
    return std::string_view(scratch);
}

std::vector<long> first_enclosing_root(const std::vector<std::string_view>& ids,
                                       const std::vector<std::string_view>& roots) {
    std::vector<long> result(ids.size(), -1);
    if (roots.empty()) {
        return result;
    }
    // An id lies inside root r exactly when r is one of its prefixes that stop
    // right before a ".": look each such prefix up and keep the earliest root.
    std::unordered_map<std::string_view, long> position;
    position.reserve(roots.size() * 2);
    for (std::size_t i = 0; i < roots.size(); ++i) {
        position.emplace(roots[i], static_cast<long>(i));  // keeps the first position
    }
    for (std::size_t e = 0; e < ids.size(); ++e) {
        const std::string_view id = ids[e];
        long best = -1;
        for (std::size_t k = id.find('.'); k != std::string_view::npos; k = id.find('.', k + 1)) {
            auto found = position.find(id.substr(0, k));
            if (found != position.end() && (best < 0 || found->second < best)) {
                best = found->second;
            }
        }
        result[e] = best;
    }
    return result;
}

}  // namespace nvx::model
