#include "interpreter_settings.hpp"

#include "common/interp.hpp"
#include "configure_neuvora/seams.hpp"
#include "descriptions.hpp"
#include "setting_values.hpp"
#include "value_bridge.hpp"

namespace nvx::configure {
namespace {

// A (flag, message) pair as a setting result.
settings::SettingResult result_of(const py::object& outcome) {
    const py::tuple pair(outcome);
    if (pair.size() != 2) raise_unpack_error(2, static_cast<Py_ssize_t>(pair.size()));
    return {truthy(pair[0]), to_u32(to_str(pair[1]))};
}

}  // namespace

settings::Descriptions InterpreterSettings::descriptions() {
    return read_descriptions(call_seam(Seam::LoadDescriptionData));
}

std::u32string InterpreterSettings::setting_help(const settings::Name& name) {
    return to_u32(to_str(get_setting_description(to_object(name))));
}

std::vector<settings::Name> InterpreterSettings::customizable() {
    std::vector<settings::Name> names;
    for (const py::handle name : seam(Seam::CustomizableSettingNames)) names.push_back(to_name(name));
    return names;
}

settings::SettingValues InterpreterSettings::read_all() {
    settings::SettingValues values;
    for (const auto& [name, value] : py::dict(call_seam(Seam::GetAllGlobalParameters))) {
        values.emplace_back(to_name(name), to_value(value));
    }
    return values;
}

settings::Value InterpreterSettings::read(const settings::Name& name) {
    return to_value(call_seam(Seam::GetGlobalSettingValue, to_object(name)));
}

std::u32string InterpreterSettings::display_text(const settings::Name& name, const settings::Value& value) {
    return to_u32(to_str(format_run_setting_value(to_object(name), to_object(value))));
}

bool InterpreterSettings::is_enumerated(const settings::Name& name) {
    return !get_enum_options(to_object(name)).is_none();
}

settings::SettingResult InterpreterSettings::cycle(const settings::Name& name,
                                                   const settings::Value& current) {
    return result_of(cycle_enum_setting(to_object(name), to_object(current)));
}

std::optional<settings::Value> InterpreterSettings::next_option(const settings::Name& name,
                                                                const settings::Value& current) {
    const py::object found = get_enum_options(to_object(name));
    if (found.is_none()) return std::nullopt;
    const py::list options(found);
    if (options.empty()) return std::nullopt;
    const Py_ssize_t index = option_index(options, to_object(current));
    return to_value(options[py::int_((index + 1) % static_cast<Py_ssize_t>(options.size()))]);
}

settings::SettingResult InterpreterSettings::apply(const settings::Name& name, const settings::Value& value) {
    return result_of(apply_setting_value(to_object(name), to_object(value)));
}

settings::ParseResult InterpreterSettings::parse(const std::u32string& text, const settings::Value& sample) {
    try {
        return {to_value(parse_value_from_text(from_u32(text), to_object(sample))), {}};
    } catch (py::error_already_set& error) {
        // Any error of the Exception family is a refusal; an interruption propagates.
        if (!error.matches(PyExc_Exception)) throw;
        return {std::nullopt, to_u32(to_str(error.value()))};
    }
}

}  // namespace nvx::configure
