#include "common/functions.hpp"
#include "common/interp.hpp"
#include "configure_neuvora/registry.hpp"
#include "core/text/styling.hpp"
#include "text_adapters.hpp"

namespace nvx::configure {
namespace {

// `int(hex_color[start:start + 2], 16)` through the interpreter, for inputs the
// fast path does not cover; it raises the interpreter's own ValueError.
int channel_via_interpreter(const py::object& hex_color, int start) {
    py::object piece = hex_color[py::slice(start, start + 2, 1)];
    const py::handle int_type(reinterpret_cast<PyObject*>(&PyLong_Type));
    return py::cast<int>(int_type(piece, 16));
}

std::u32string color_text_of(const py::object& text, const py::object& hex_color) {
    const std::u32string body = to_u32(to_str(text));
    if (is_str(hex_color)) {
        if (auto rgb = style::parse_hex_color(to_u32(hex_color))) {
            return style::color_text(body, *rgb);
        }
    }
    const style::Rgb rgb{channel_via_interpreter(hex_color, 0), channel_via_interpreter(hex_color, 2),
                         channel_via_interpreter(hex_color, 4)};
    return style::color_text(body, rgb);
}

}  // namespace

void register_styling(py::module_& m) {
    m.attr("COLOR_DENDRIFY") = from_u32(style::kColorDendrify);
    m.attr("COLOR_TRACK") = from_u32(style::kColorTrack);
    m.attr("COLOR_ATTENTION") = from_u32(style::kColorAttention);
    m.attr("COLOR_ACCENT") = from_u32(style::kColorAccent);
    m.attr("HR") = from_u32(style::horizontal_rule());
    m.attr("ANSI_ESCAPE_RE") = ansi_escape_pattern();

    def(m, "_ansi", {"text", "code"}, nullptr,
        [](Args& a) { return from_u32(style::ansi(to_u32(to_str(a[0])), to_u32(to_str(a[1])))); });
    def(m, "color_text", {"text", "hex_color"}, "Render text in an ANSI truecolor foreground.",
        [](Args& a) { return from_u32(color_text_of(a[0], a[1])); });
    def(m, "make_color_square", {"hex_color"}, "Create one colored block character using ANSI truecolor.",
        [](Args& a) { return from_u32(color_text_of(from_u32(U"\u2588"), a[0])); });
    def(m, "dim", {"text"}, "Render text dimmed.",
        [](Args& a) { return from_u32(style::dim(to_u32(to_str(a[0])))); });
    def(m, "make_inverted_text", {"text"}, "Render text with inverted foreground/background colors.",
        [](Args& a) { return from_u32(style::inverted(to_u32(to_str(a[0])))); });
    def(m, "strip_ansi", {"text"}, "Remove ANSI color/style escape codes for width calculation.",
        [](Args& a) -> py::object {
            if (!is_str(a[0])) {
                // Same error the interpreter's regular expression gives for non-text.
                return ansi_escape_pattern().attr("sub")("", a[0]);
            }
            return from_u32(style::strip_ansi(to_u32(a[0])));
        });
    def(m, "get_color_hex_for_mode", {"mode"}, "Map a resolved mode to its color hex value.", [](Args& a) {
        if (equals(a[0], from_u32(U"dendrified"))) return from_u32(style::kColorDendrify);
        if (equals(a[0], from_u32(U"tracked"))) return from_u32(style::kColorTrack);
        return from_u32(style::kColorNone);
    });
}

}  // namespace nvx::configure
