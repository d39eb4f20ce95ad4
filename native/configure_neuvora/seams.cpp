#include "seams.hpp"

#include "common/module_namespace.hpp"

namespace nvx::configure {

const char* seam_name(Seam which) {
    switch (which) {
        case Seam::TerminalSize:
            return "terminal_size";
        case Seam::ReadSingleKey:
            return "read_single_key";
        case Seam::EnterAlternateScreen:
            return "enter_alternate_screen";
        case Seam::ExitAlternateScreen:
            return "exit_alternate_screen";
        case Seam::RequireInteractiveSession:
            return "require_interactive_session";
        case Seam::DistributedRank:
            return "_distributed_rank";
        case Seam::LoadDescriptionData:
            return "load_description_data";
        case Seam::LoadExistingModuleSettings:
            return "load_existing_module_settings";
        case Seam::PersistModuleSettingsUpdates:
            return "persist_module_settings_updates";
        case Seam::ConfigTargetPath:
            return "_config_target_path";
        case Seam::GetGlobalSettingValue:
            return "get_global_setting_value";
        case Seam::GetAllGlobalParameters:
            return "get_all_global_parameters";
        case Seam::GetModuleEntries:
            return "get_module_entries";
        case Seam::GNV:
            return "GNV";
        case Seam::Sys:
            return "sys";
        case Seam::Os:
            return "os";
        case Seam::Json:
            return "json";
        case Seam::Re:
            return "re";
        case Seam::Shutil:
            return "shutil";
        case Seam::Select:
            return "select";
        case Seam::Termios:
            return "termios";
        case Seam::Tty:
            return "tty";
        case Seam::Torch:
            return "torch";
        case Seam::DescriptionCache:
            return "DESCRIPTION_CACHE";
        case Seam::CustomizableSettingNames:
            return "CUSTOMIZABLE_SETTING_NAMES";
        case Seam::File:
            return "__file__";
        case Seam::Print:
            return "print";
        case Seam::Input:
            return "input";
        case Seam::Open:
            return "open";
    }
    return "";
}

py::object seam(Seam which) {
    return global(seam_name(which));
}

void set_seam(Seam which, const py::handle& value) {
    module_namespace()[seam_name(which)] = value;
}

py::object configuration() {
    return seam(Seam::GNV).attr("pc");
}

void print_text(const py::object& text, const char* end, bool flush) {
    using namespace py::literals;
    seam(Seam::Print)(text, "end"_a = end, "flush"_a = flush);
}

py::object read_json_file(const py::handle& path) {
    py::object handle = seam(Seam::Open)(path, "r");
    py::object document;
    try {
        document = seam(Seam::Json).attr("load")(handle);
    } catch (py::error_already_set&) {
        try {
            handle.attr("close")();
        } catch (py::error_already_set&) {
            // The read or parse error is the one worth reporting.
        }
        throw;
    }
    handle.attr("close")();
    return document;
}

}  // namespace nvx::configure
