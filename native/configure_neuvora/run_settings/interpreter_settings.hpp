// The settings port over the module: values are read through the module's
// seams (get_all_global_parameters, get_global_setting_value, the
// description loader, CUSTOMIZABLE_SETTING_NAMES) and shown, parsed, cycled
// and written with the interpreter's semantics by this folder's functions.
#pragma once

#include "core/settings/settings_port.hpp"

namespace nvx::configure {

class InterpreterSettings final : public settings::SettingsPort {
public:
    settings::Descriptions descriptions() override;
    std::u32string setting_help(const settings::Name& name) override;
    std::vector<settings::Name> customizable() override;
    settings::SettingValues read_all() override;
    settings::Value read(const settings::Name& name) override;
    std::u32string display_text(const settings::Name& name, const settings::Value& value) override;
    bool is_enumerated(const settings::Name& name) override;
    settings::SettingResult cycle(const settings::Name& name, const settings::Value& current) override;
    std::optional<settings::Value> next_option(const settings::Name& name,
                                               const settings::Value& current) override;
    settings::SettingResult apply(const settings::Name& name, const settings::Value& value) override;
    settings::ParseResult parse(const std::u32string& text, const settings::Value& sample) override;
};

}  // namespace nvx::configure
