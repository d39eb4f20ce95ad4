#include "overrides.hpp"

#include <algorithm>

namespace nvx::settings {
namespace {

template <typename Entries>
auto find_entry(Entries& entries, const std::u32string& key) {
    return std::find_if(entries.begin(), entries.end(),
                        [&](const auto& entry) { return entry.first == key; });
}

}  // namespace

const std::optional<Value>* ScopeValues::find(const std::u32string& name) const {
    const auto found = find_entry(entries_, name);
    return found != entries_.end() ? &found->second : nullptr;
}

void ScopeValues::set(const std::u32string& name, std::optional<Value> value) {
    const auto found = find_entry(entries_, name);
    if (found != entries_.end()) {
        found->second = std::move(value);
    } else {
        entries_.emplace_back(name, std::move(value));
    }
}

ScopeValues& Overrides::scope_for_writing(const std::u32string& scope_key) {
    const auto found = find_entry(scopes_, scope_key);
    if (found != scopes_.end()) return found->second;
    scopes_.emplace_back(scope_key, ScopeValues());
    return scopes_.back().second;
}

void Overrides::set(const std::u32string& scope_key, const std::u32string& name, Value value) {
    scope_for_writing(scope_key).set(name, std::move(value));
}

void Overrides::remove(const std::u32string& scope_key, const std::u32string& name) {
    scope_for_writing(scope_key).set(name, std::nullopt);
}

const ScopeValues* Overrides::scope(const std::u32string& scope_key) const {
    const auto found = find_entry(scopes_, scope_key);
    return found != scopes_.end() ? &found->second : nullptr;
}

std::vector<std::pair<std::u32string, Value>> merged_scope(const std::u32string& scope_key,
                                                           const Overrides& session, const Overrides& saved) {
    ScopeValues merged;
    for (const Overrides* source : {&saved, &session}) {
        if (const ScopeValues* values = source->scope(scope_key)) {
            for (const auto& [name, value] : values->entries()) merged.set(name, value);
        }
    }
    std::vector<std::pair<std::u32string, Value>> shown;
    for (const auto& [name, value] : merged.entries()) {
        if (value) shown.emplace_back(name, *value);
    }
    return shown;
}

std::vector<std::u32string> scopes_with_values(const Overrides& session, const Overrides& saved) {
    std::vector<std::u32string> keys;
    for (const Overrides* source : {&saved, &session}) {
        for (const auto& scope : source->scopes()) {
            if (std::find(keys.begin(), keys.end(), scope.first) != keys.end()) continue;
            if (!merged_scope(scope.first, session, saved).empty()) keys.push_back(scope.first);
        }
    }
    return keys;
}

}  // namespace nvx::settings
