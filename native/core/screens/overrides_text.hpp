// Text of the overrides overlay: one scope's customizable settings and where
// each value comes from.
#pragma once


#include "page_pieces.hpp"

namespace nvx::overlays {

std::u32string overrides_title(bool id_scope, const std::u32string& scope_key);
Lines overrides_head(const std::u32string& tab_bar, const std::u32string& title);
std::u32string overrides_empty_line();
std::u32string override_row(bool selected, const std::u32string& name, const std::u32string& value_text,
                            bool overridden);
std::u32string overrides_describe_line(const std::u32string& name, const std::u32string& description);
std::u32string overrides_key_hint();

}  // namespace nvx::overlays
