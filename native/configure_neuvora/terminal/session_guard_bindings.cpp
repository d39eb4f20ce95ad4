// require_interactive_session and _distributed_rank.
#include <pybind11/pybind11.h>

#include "common/functions.hpp"
#include "common/interp.hpp"
#include "configure_neuvora/registry.hpp"
#include "configure_neuvora/seams.hpp"
#include "core/session/guard_text.hpp"

namespace nvx::configure {
namespace {

py::object distributed_rank() {
    for (const char* name : guard::kRankVariables) {
        py::object value = seam(Seam::Os).attr("environ").attr("get")(name);
        if (value.is_none()) continue;
        // The first variable that is set decides, even when its value is not a number.
        try {
            return steal(PyNumber_Long(value.ptr()));
        } catch (py::error_already_set& e) {
            if (!e.matches(PyExc_ValueError)) throw;
            return py::int_(0);
        }
    }
    return py::int_(0);
}

// Both standard streams are terminals; a closed, missing or odd stream counts as none.
bool attached_to_terminal() {
    try {
        py::object sys = seam(Seam::Sys);
        if (!truthy(sys.attr("stdin").attr("isatty")())) return false;
        return truthy(sys.attr("stdout").attr("isatty")());
    } catch (py::error_already_set& e) {
        if (e.matches(PyExc_ValueError) || e.matches(PyExc_AttributeError) || e.matches(PyExc_OSError)) {
            return false;
        }
        throw;
    }
}

void require_interactive_session() {
    if (seam(Seam::Termios).is_none()) raise(PyExc_RuntimeError, guard::kNoTermiosMessage);
    const bool is_tty = attached_to_terminal();
    py::object rank = call_seam(Seam::DistributedRank);
    if (is_tty && equals(rank, py::int_(0))) return;
    const std::string reason = is_tty ? guard::rank_reason(py::cast<std::string>(to_str(rank)))
                                      : std::string(guard::kNoTerminalReason);
    raise(PyExc_RuntimeError, guard::not_interactive_message(reason));
}

}  // namespace

void register_session_guard(py::module_& m) {
    def(m, "require_interactive_session", {},
        "Raise a clear error if the TUI cannot be driven in this process.\n\n"
        "    The configuration TUI reads raw keystrokes from the terminal. Under CI,\n"
        "    ``nohup``, notebooks, piped stdin, or non-rank-0 distributed workers there is\n"
        "    no usable TTY, so we fail fast with actionable guidance instead of crashing\n"
        "    inside ``termios``.\n    ",
        [](Args&) { require_interactive_session(); });
    def(m, "_distributed_rank", {}, "Best-effort process rank for common launchers (0 when not distributed).",
        [](Args&) { return distributed_rank(); });
}

}  // namespace nvx::configure
