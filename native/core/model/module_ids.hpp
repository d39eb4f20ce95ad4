// Module ids ("." + dotted path) as plain text: parent ids and the replaced root
// each id lives under. No interpreter objects here.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nvx::model {

// The parent id of `id`: split on ".", None for at most two pieces, otherwise
// "." + the pieces between the first and the last. The result views `id` when
// `id` starts with "." and `scratch` otherwise.
std::optional<std::string_view> parent_id(std::string_view id, std::string& scratch);

// For every id, the position in `roots` (a list of ids) of the first root r for
// which the id starts with r + "."; -1 when there is none. Runs in time linear in
// the total length of the ids, whatever the number of roots.
std::vector<long> first_enclosing_root(const std::vector<std::string_view>& ids,
                                       const std::vector<std::string_view>& roots);

}  // namespace nvx::model
