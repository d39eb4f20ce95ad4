// Where the core meets the configuration object and the description loader.
// Reading, showing, parsing, cycling and writing a setting value keep the
// interpreter's semantics (str(), equality, int() and float(), the getters
// and setters), so the core asks for them through this interface; the
// adapter beside the bindings implements it over the module's seams.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "descriptions.hpp"
#include "overrides.hpp"
#include "value.hpp"

namespace nvx::settings {

// The outcome of changing a run-wide setting: ok, or refused with a message.
struct SettingResult {
    bool ok = true;
    std::u32string message;
};

// Typed text read as a value of the sample's type, or the parser's refusal.
struct ParseResult {
    std::optional<Value> value;
    std::u32string error;  // the text of the parser's error
};

// Every run setting's current value, in the descriptions' order.
using SettingValues = std::vector<std::pair<Name, Value>>;

class SettingsPort {
public:
    virtual ~SettingsPort() = default;

    // The description record as the loader gives it now, and its help texts.
    virtual Descriptions descriptions() = 0;
    virtual std::u32string setting_help(const Name& name) = 0;
    // The settings an override scope can hold, in order.
    virtual std::vector<Name> customizable() = 0;

    // Every setting's value, read once each; one setting's value.
    virtual SettingValues read_all() = 0;
    virtual Value read(const Name& name) = 0;
    // The value as the screens show it (enumerated values by name).
    virtual std::u32string display_text(const Name& name, const Value& value) = 0;

    // True for the settings whose Enter cycles through a fixed set of options.
    virtual bool is_enumerated(const Name& name) = 0;
    // Applies the option after `current` run-wide.
    virtual SettingResult cycle(const Name& name, const Value& current) = 0;
    // The option after `current` (the first when `current` is none of them),
    // as an override stores it; none for a setting that is not enumerated.
    virtual std::optional<Value> next_option(const Name& name, const Value& current) = 0;

    // Writes a run-wide value through the configuration object.
    virtual SettingResult apply(const Name& name, const Value& value) = 0;
    // `text` read as a value of the sample's type.
    virtual ParseResult parse(const std::u32string& text, const Value& sample) = 0;
};

// What writing files came to: done, or refused with the error's text (a file
// that cannot be written or may not be overwritten). A refused write leaves
// no file half written.
struct WriteOutcome {
    bool ok = true;
    std::u32string error;
};

// The local configuration files' per-module overrides.
class OverrideFiles {
public:
    virtual ~OverrideFiles() = default;

    // The saved overrides, read once when a session starts.
    virtual Overrides load() = 0;
    // Merges the session's overrides into the files; the session's overrides
    // are unchanged either way. Errors other than a refused write propagate.
    virtual WriteOutcome save(const Overrides& session, bool as_default) = 0;
};

}  // namespace nvx::settings
