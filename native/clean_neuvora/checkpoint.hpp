// Checkpoints across conversion.
//
// A wrapper keeps the wrapped layer's skip weights from the second on
// (`skip_weights[1:]`): the layer's entry k is the wrapper's entry k-1, and the
// layer's entry 0, which the computation never reads, has no counterpart. State
// of the layer that the wrapper does not take over has none either. A state
// dict saved from the network before conversion therefore names entries the
// converted network does not have; the wrapper renames them as it loads.
#pragma once

#include <pybind11/pybind11.h>

namespace nvx::clean {
namespace py = pybind11;

// Records on `wrapper`, built from `original`, the names (first components of
// state dict keys) under which `original` holds state that the wrapper does not
// keep; skip weights aside, which are renamed rather than left behind. Nothing
// is recorded when there are none.
void record_state_left_behind(py::handle original, py::handle wrapper);

// Prepares the entries of `state_dict` under `prefix` for loading into
// `wrapper`: an entry saved from the wrapped layer before conversion gets the
// wrapper's name, or is removed when the wrapper keeps nothing of it. Entries
// saved from the wrapper itself are left as they are. Changes `state_dict`
// in place.
void adapt_checkpoint(py::handle wrapper, py::handle state_dict, py::handle prefix);

}  // namespace nvx::clean
