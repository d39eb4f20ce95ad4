#include "module_globals.hpp"

#include "common/module_namespace.hpp"

namespace nvx::clean {
namespace {

const char* name_of(Global which) {
    switch (which) {
        case Global::GNV:
            return "GNV";
        case Global::Nn:
            return "nn";
        case Global::Torch:
            return "torch";
        case Global::Thread:
            return "Thread";
        case Global::DoingThreading:
            return "doing_threading";
        case Global::ModuleType:
            return "ModuleType";
        case Global::Print:
            return "print";
    }
    return "";
}

}  // namespace

py::object module_global(Global which) {
    return global(name_of(which));
}

}  // namespace nvx::clean
