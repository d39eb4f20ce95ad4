// Per-module setting overrides as the session holds them: scope key (a module
// id or a class name) to setting name to value, each in the order first
// written. The in-session map also records removals: a setting removed from a
// scope falls back to the run-wide value, and saving deletes it from the
// scope in each file.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "value.hpp"

namespace nvx::settings {

class ScopeValues {
public:
    // A value, or none for a setting removed in this session.
    using Entry = std::pair<std::u32string, std::optional<Value>>;

    // nullptr when the scope has no entry for `name`.
    const std::optional<Value>* find(const std::u32string& name) const;
    // Writes an entry, keeping the place of an earlier one.
    void set(const std::u32string& name, std::optional<Value> value);
    const std::vector<Entry>& entries() const { return entries_; }

private:
    std::vector<Entry> entries_;
};

class Overrides {
public:
    using Scope = std::pair<std::u32string, ScopeValues>;

    void set(const std::u32string& scope_key, const std::u32string& name, Value value);
    void remove(const std::u32string& scope_key, const std::u32string& name);
    // nullptr when nothing was written for the scope.
    const ScopeValues* scope(const std::u32string& scope_key) const;
    const std::vector<Scope>& scopes() const { return scopes_; }
    bool empty() const { return scopes_.empty(); }

private:
    ScopeValues& scope_for_writing(const std::u32string& scope_key);
    std::vector<Scope> scopes_;
};

// One scope's values: the saved ones, then the session's on top (a new name
// goes last); a removed setting is absent.
std::vector<std::pair<std::u32string, Value>> merged_scope(const std::u32string& scope_key,
                                                           const Overrides& session, const Overrides& saved);

// The scope keys that hold at least one value once merged (the rows and type
// rules that show the override mark): the saved scopes in their order, then
// the session's new ones.
std::vector<std::u32string> scopes_with_values(const Overrides& session, const Overrides& saved);

}  // namespace nvx::settings
