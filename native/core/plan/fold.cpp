#include "fold.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "core/text/display_text.hpp"

namespace nvx::plan {
namespace {

// Longest "{a,b,c}" written out in full; longer runs of three or more read "{a,…,z}".
constexpr std::size_t kLongestListedRun = 24;

// Every row's children in row order (compressed: children of row r are
// `rows[offsets[r + 1] .. offsets[r + 2])`, the rows without a parent come first).
struct Children {
    std::vector<std::size_t> offsets;
    std::vector<int> rows;

    std::pair<const int*, const int*> of(int parent) const {
        const auto slot = static_cast<std::size_t>(parent + 1);
        return {rows.data() + offsets[slot], rows.data() + offsets[slot + 1]};
    }
};

Children children_of(const std::vector<int>& parents) {
    Children out;
    out.offsets.assign(parents.size() + 2, 0);
    for (const int parent : parents) ++out.offsets[static_cast<std::size_t>(parent + 1) + 1];
    for (std::size_t k = 1; k < out.offsets.size(); ++k) out.offsets[k] += out.offsets[k - 1];
    std::vector<std::size_t> next(out.offsets.begin(), out.offsets.end() - 1);
    out.rows.resize(parents.size());
    for (std::size_t row = 0; row < parents.size(); ++row) {
        out.rows[next[static_cast<std::size_t>(parents[row] + 1)]++] = static_cast<int>(row);
    }
    return out;
}

class Folder {
public:
    Folder(const Plan& plan, const ShowOptions& options)
        : plan_(plan), table_(*plan.table), options_(options), children_(children_of(plan.parents)) {}

    std::vector<ShownRow> run() {
        struct Level {
            const int* next;
            const int* end;
            int parent;  // -1 for the rows without a parent
            std::u32string label;
        };
        std::vector<ShownRow> shown;
        auto [first, last] = children_.of(-1);
        std::vector<Level> levels{Level{first, last, -1, {}}};
        while (!levels.empty()) {
            Level& level = levels.back();
            if (level.next == level.end) {
                levels.pop_back();
                continue;
            }
            const int row = *level.next;
            if (!shown_at_depth(row)) {
                ++level.next;
                continue;
            }
            const int* run_end = level.next + 1;
            if (options_.fold && foldable(row)) {
                while (run_end != level.end && foldable(*run_end) && same_prefix(row, *run_end) &&
                       same_subtree(static_cast<std::size_t>(row), static_cast<std::size_t>(*run_end))) {
                    ++run_end;
                }
            }
            ShownRow out;
            out.row = static_cast<std::size_t>(row);
            out.copies = static_cast<std::size_t>(run_end - level.next);
            out.label = label(level.parent, level.label, level.next, run_end);
            level.next = run_end;
            auto [child, child_end] = children_.of(row);
            const bool hides = std::any_of(child, child_end, [&](int c) { return !shown_at_depth(c); });
            if (hides) out.hidden_modules = plan_.sizes[out.row] * out.copies;
            std::u32string child_label = out.label;
            shown.push_back(std::move(out));
            if (child != child_end) levels.push_back(Level{child, child_end, row, std::move(child_label)});
        }
        return shown;
    }

private:
    std::int64_t depth(std::size_t row) const { return table_.indents.at(row, model::Field::Depth); }

    bool shown_at_depth(int row) const {
        return !options_.max_depth ||
               depth(static_cast<std::size_t>(row)) <= static_cast<std::int64_t>(*options_.max_depth);
    }

    bool foldable(int row) const {
        return plan_.contiguous && table_.ids.present(static_cast<std::size_t>(row)) &&
               table_.ids.values[static_cast<std::size_t>(row)].is_text();
    }

    // The id up to its last ".": siblings without a parent row fold only when it is the same.
    std::string_view prefix(int row) const {
        const std::string_view id = table_.ids.values[static_cast<std::size_t>(row)].text;
        const std::size_t dot = id.rfind('.');
        return dot == std::string_view::npos ? std::string_view() : id.substr(0, dot);
    }
    bool same_prefix(int a, int b) const { return prefix(a) == prefix(b); }

    // Row `x` of one subtree points at `target` where row `y` of the other
    // points at `other`: the same row outside both, or the same place inside each.
    static bool same_reference(int target, int other, std::size_t a, std::size_t b, std::size_t size) {
        const bool in_a = target >= 0 && static_cast<std::size_t>(target) - a < size;
        const bool in_b = other >= 0 && static_cast<std::size_t>(other) - b < size;
        if (in_a != in_b) return false;
        if (in_a) return static_cast<std::size_t>(target) - a == static_cast<std::size_t>(other) - b;
        return target == other;
    }

    bool same_row(std::size_t x, std::size_t y, std::size_t a, std::size_t b) const {
        const model::Resolution& r = plan_.resolution;
        if (table_.type_slot(x) != table_.type_slot(y)) return false;
        const model::Count& cx = table_.own_counts.at(x, model::Field::DirectParamCount);
        const model::Count& cy = table_.own_counts.at(y, model::Field::DirectParamCount);
        if (!cx.machine || !cy.machine || cx.value != cy.value) return false;
        if (depth(x) - depth(a) != depth(y) - depth(b)) return false;
        if (r.eff[x] != r.eff[y] || r.source[x] != r.source[y]) return false;
        if (plan_.restructured[x] != plan_.restructured[y] ||
            plan_.needs_mode_flags[x] != plan_.needs_mode_flags[y] ||
            plan_.overrides[x] != plan_.overrides[y] || plan_.in_conflict[x] != plan_.in_conflict[y]) {
            return false;
        }
        const std::size_t size = plan_.sizes[a];
        return same_reference(r.origin[x], r.origin[y], a, b, size) &&
               same_reference(plan_.shared_with[x], plan_.shared_with[y], a, b, size) &&
               (x == a || same_reference(plan_.parents[x], plan_.parents[y], a, b, size));
    }

    bool same_subtree(std::size_t a, std::size_t b) const {
        const std::size_t size = plan_.sizes[a];
        if (plan_.sizes[b] != size) return false;
        for (std::size_t k = 0; k < size; ++k) {
            if (!same_row(a + k, b + k, a, b)) return false;
        }
        return true;
    }

    // The shown id of a row, or of a run of siblings with their last parts folded.
    std::u32string label(int parent, const std::u32string& parent_label, const int* run_begin,
                         const int* run_end) const {
        const auto row = static_cast<std::size_t>(*run_begin);
        std::u32string id = shown_id(plan_, row);
        if (parent >= 0) {
            // The part of the id below the parent's, after the parent's label.
            const std::u32string parent_id = shown_id(plan_, static_cast<std::size_t>(parent));
            if (id.compare(0, parent_id.size(), parent_id) == 0)
                id = parent_label + id.substr(parent_id.size());
        }
        if (run_end - run_begin == 1) return id;
        std::vector<std::u32string> parts;
        for (const int* sibling = run_begin; sibling != run_end; ++sibling) {
            const std::u32string text = shown_id(plan_, static_cast<std::size_t>(*sibling));
            parts.push_back(text.substr(text.rfind(U'.') + 1));
        }
        return id.substr(0, id.rfind(U'.') + 1) + folded_parts(parts);
    }

    static bool decimal(const std::u32string& part, std::uint64_t& value) {
        if (part.empty() || part.size() > 18 || (part.size() > 1 && part[0] == U'0')) return false;
        value = 0;
        for (const char32_t c : part) {
            if (c < U'0' || c > U'9') return false;
            value = value * 10 + static_cast<std::uint64_t>(c - U'0');
        }
        return true;
    }

    // "{0..31}" for a run of three or more numbers counting up by one,
    // "{a,b,c}" otherwise, "{a,…,z}" when that would be long.
    static std::u32string folded_parts(const std::vector<std::u32string>& parts) {
        bool counting = parts.size() >= 3;
        std::uint64_t previous = 0;
        for (std::size_t k = 0; k < parts.size() && counting; ++k) {
            std::uint64_t value = 0;
            counting = decimal(parts[k], value) && (k == 0 || value == previous + 1);
            previous = value;
        }
        if (counting) return U"{" + parts.front() + U".." + parts.back() + U"}";
        std::u32string listed = U"{";
        for (std::size_t k = 0; k < parts.size(); ++k) listed += (k > 0 ? U"," : U"") + parts[k];
        listed += U"}";
        if (listed.size() <= kLongestListedRun || parts.size() < 3) return listed;
        return U"{" + parts.front() + U",…," + parts.back() + U"}";
    }

    const Plan& plan_;
    const model::ModuleTable& table_;
    ShowOptions options_;
    Children children_;
};

}  // namespace

std::vector<ShownRow> shown_rows(const Plan& plan, const ShowOptions& options) {
    if (plan.table == nullptr || plan.table->size() == 0) return {};
    return Folder(plan, options).run();
}

}  // namespace nvx::plan
