// set_dendrification_targets: the guard, the persistence flag, the signals,
// the alternate screen and the teardown around one session; and the index
// rule `_move`.
#include <exception>
#include <optional>

#include "common/functions.hpp"
#include "common/interp.hpp"
#include "configure_neuvora/registry.hpp"
#include "configure_neuvora/seams.hpp"
#include "configure_neuvora/target_model/lazy_parameters.hpp"
#include "configure_neuvora/terminal/resize_signal.hpp"
#include "configure_neuvora/terminal/termination_signals.hpp"
#include "core/session/session.hpp"
#include "interpreter_world.hpp"

namespace nvx::configure {
namespace {

const char* const kEntryDoc =
    "Interactive configuration TUI for dendrification targets and run settings.\n\n"
    "    Two screens (Tab to switch): Targets (the module tree) and Run settings.\n"
    "    See the `?` overlay for the full key reference.\n"
    "    ";

py::object config_dict() {
    return configuration().attr("__dict__");
}

void print_cancel_lines() {
    print_text(from_utf8("Configuration cancelled \u2014 training did not start."));
    print_text(
        py::str("Re-run to configure again, or set configuration_confirmed=True "
                "(GNV.pc.set_configuration_confirmed(True)) to skip this screen."));
}

// The way out of a session: every step runs even when one before it failed,
// and no termination signal can cut it short. The first failure then
// propagates; a signal that came in meanwhile goes to the caller's handler.
void leave_session(InterpreterWorld& world, const py::object& previous_auto_persist,
                   TerminationSignals& signals, ResizeSignal& resize) {
    signals.defer();
    std::exception_ptr failure;
    try {
        resize.restore();
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        if (world.interpreter_terminal().on_alternate_screen()) world.terminal().exit_alternate_screen();
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        config_dict()["_auto_persist_config"] = previous_auto_persist;
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    const std::optional<int> noted = signals.restore();
    if (noted) TerminationSignals::deliver(*noted);
    if (failure) std::rethrow_exception(failure);
}

py::object set_dendrification_targets(const py::object& model) {
    call_seam(Seam::RequireInteractiveSession);
    // A model that cannot be counted yet is refused before the terminal or the
    // configuration object is touched.
    target::require_initialized_parameters(model);
    py::object previous_auto_persist = config_dict().attr("get")("_auto_persist_config", true);
    config_dict()["_auto_persist_config"] = false;

    InterpreterWorld world(model);
    session::Session session(world);
    TerminationSignals signals;
    ResizeSignal resize;
    bool quit = false;
    try {
        signals.install();
        resize.install();
        world.terminal().enter_alternate_screen();
        quit = world.run(session) == session::Outcome::Quit;
    } catch (py::error_already_set& error) {
        if (!error.matches(PyExc_KeyboardInterrupt)) {
            const auto terminated_by = TerminationSignals::signal_of(error);
            leave_session(world, previous_auto_persist, signals, resize);
            if (terminated_by) TerminationSignals::redeliver(*terminated_by);
            throw;
        }
        quit = true;
    }
    leave_session(world, previous_auto_persist, signals, resize);
    if (quit) {
        print_cancel_lines();
        seam(Seam::Sys).attr("exit")(0);
    }
    return py::none();
}

}  // namespace

void register_session(py::module_& m) {
    def(m, "set_dendrification_targets", {"model"}, kEntryDoc,
        [](Args& a) { return set_dendrification_targets(a[0]); });
    def(m, "_move", {"index", "delta", "length"}, nullptr, [](Args& a) {
        return session::moved(py::cast<Py_ssize_t>(a[0]), py::cast<Py_ssize_t>(a[1]),
                              py::cast<Py_ssize_t>(a[2]));
    });
}

}  // namespace nvx::configure
