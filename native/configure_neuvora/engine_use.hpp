// Whether the target model's engine may do the work of the module's own
// functions directly (inside a session pass, or inside another of them).
//
// The functions below are the reference: as soon as one of them has been
// replaced on the module, every caller goes through the module's namespace, so
// the replacement is honoured on the next call. This is the one place that
// decides it, from the one list of names in engine_use.cpp.
#pragma once

#include <pybind11/pybind11.h>

namespace nvx::configure {
namespace py = pybind11;

// Remembers the module's own functions; called once every name is registered.
void remember_engine_functions(const py::module_& m);

// True while every function the engine stands in for is still the module's own.
bool engine_may_stand_in();

}  // namespace nvx::configure
