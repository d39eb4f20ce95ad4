// The frame of an inline editor: its title, the value being edited and its
// keys. It takes the whole screen while the editor is open.
#pragma once

#include <string>

#include "core/editors/editors.hpp"
#include "core/layout/frame.hpp"

namespace nvx::screens {

layout::ScreenFrame scalar_editor_frame(const editors::ScalarEditor& state);
layout::ScreenFrame list_editor_frame(const editors::ListEditor& state);

// The frame as drawn on a terminal of `columns` x `lines`, its lines wrapped
// on words: as it is when it fits, else the blank lines and then the key line
// give way and the value shows its first rows; below the smallest size, the
// size it needs. A `notice` (a refused entry) follows as a line of its own
// when the terminal has the room for it.
std::u32string editor_frame_text(const layout::ScreenFrame& frame, long long columns, long long lines,
                                 const std::u32string& notice = U"");

}  // namespace nvx::screens
