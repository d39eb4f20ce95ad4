// The fixed reference pages drawn over the screens: the key reference, the
// Targets legend and the quit confirmation.
#pragma once


#include "page_pieces.hpp"

namespace nvx::overlays {

// Fixed reference texts.
Lines help_lines();
Lines legend_lines();
Lines quit_lines();

// Key reference of the editing keys that go beyond the screens' own keys
// (undo and redo, the next module that needs a mode, removing an override, Home
// and End in the number editor); the session shows them in the help overlay.
Lines editing_help_lines();

}  // namespace nvx::overlays
