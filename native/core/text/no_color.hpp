// Output without colour, for terminals and logs whose user asked for none by
// setting NO_COLOR to a non-empty value. The rewrite works on finished text at
// the point where it is written, so every styled piece made anywhere before
// loses its colour alike: foreground and background colours (24-bit,
// 256-colour and the sixteen basic ones) go, the grey of dimmed text becomes
// the faint attribute, and the other attributes (bold, faint, inverse, the
// reset) stay. Each mode stays readable from its words.
#pragma once

#include <string>

namespace nvx::style {

// `text` with the colour parameters taken out of every SGR sequence ("\e["
// digits and semicolons "m"); grey (90) becomes faint (2). A sequence left
// with no parameter is dropped whole, since "\e[m" would reset.
std::u32string without_color(const std::u32string& text);

// Whether the environment asks for output without colour: NO_COLOR is set
// and not empty.
bool color_refused();

// `text` as it is written to a terminal now: without colour when the
// environment refuses it, else unchanged.
std::u32string for_terminal(std::u32string text);

}  // namespace nvx::style
