// The overrides overlay as a page: one override scope's customizable
// settings, each with its value and whether the scope holds it, the selected
// one in focus, and the line under them that describes a setting or lists the
// keys. A message for the user (an invalid value, a removal) can be shown as
// the page's last line until the next key.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/layout/frame.hpp"

namespace nvx::overlays {

struct OverrideRow {
    std::u32string name;
    std::u32string value_text;  // the value as shown
    bool overridden = false;    // the scope's own value, not the run-wide one
    bool selected = false;
};

struct OverridesPage {
    bool id_scope = true;  // one module by id, else every module of a class
    std::u32string scope_key;
    std::vector<OverrideRow> rows;  // one per customizable setting, in order
    std::optional<std::pair<std::u32string, std::u32string>> described;  // name and help text
    std::u32string notice;                                               // "" for none
};

// Texts from outside (the scope key, names, values, help texts, the notice)
// are drawn with their control characters escaped.
layout::PageFrame overrides_frame(const OverridesPage& page);

// A message as a line of its own, in the look of the status line.
std::u32string message_line(const std::u32string& message);

}  // namespace nvx::overlays
