// The fixed reference pages drawn over the screens: the key reference, the
// Targets legend and the quit confirmation.
#pragma once

#include "core/layout/frame.hpp"
#include "page_pieces.hpp"

namespace nvx::overlays {

// The key reference as originally laid out: the keys of both screens, those
// that act everywhere and the modes (29 lines).
layout::PageFrame help_page();
// The key reference a session shows: also the keys added since (search,
// Home and End, undo and redo, the next module that needs a mode, removing an
// override, the number editor's Home and End), from the same key table.
layout::PageFrame session_help_page();

layout::PageFrame legend_page();
layout::PageFrame quit_page();

}  // namespace nvx::overlays
