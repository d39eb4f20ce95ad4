#include "signal_handlers.hpp"

#include <string>
#include <utility>

namespace nvx::configure {

std::optional<SavedHandler> install_handler(const char* name, const py::object& handler, bool keep_ignored) {
    py::module_ threading = py::module_::import("threading");
    if (!threading.attr("current_thread")().is(threading.attr("main_thread")())) return std::nullopt;
    py::module_ signal = py::module_::import("signal");
    if (!py::hasattr(signal, name)) return std::nullopt;
    py::object number = signal.attr(name);
    py::object current = signal.attr("getsignal")(number);
    if (keep_ignored && current.is(signal.attr("SIG_IGN"))) return std::nullopt;
    signal.attr("signal")(number, handler);
    return SavedHandler{number, current};
}

void restore_handler(const SavedHandler& saved) {
    py::module_ signal = py::module_::import("signal");
    // A handler installed from C code reads back as None; the default is the honest stand-in.
    signal.attr("signal")(saved.number, saved.previous.is_none() ? signal.attr("SIG_DFL") : saved.previous);
}

PyObject* new_signal_exception(const char* name) {
    const std::string qualified = std::string("neuvora.configure_neuvora.") + name;
    PyObject* type = PyErr_NewException(qualified.c_str(), PyExc_BaseException, nullptr);
    if (type == nullptr) throw py::error_already_set();
    return type;
}

PyObject* new_signal_handler(const char* name, Body body) {
    return make_function(name, {"signum", "frame"}, nullptr, std::move(body)).release().ptr();
}

}  // namespace nvx::configure
