#include "text_adapters.hpp"

#include "common/interp.hpp"
#include "configure_neuvora/seams.hpp"
#include "core/text/styling.hpp"

namespace nvx::configure {

layout::TerminalSize read_terminal_size() {
    const py::object size = call_seam(Seam::TerminalSize);
    return {py::cast<long long>(size.attr("columns")), py::cast<long long>(size.attr("lines"))};
}

const py::object& ansi_escape_pattern() {
    // Never destroyed: it must outlive the interpreter's teardown.
    static const py::object* pattern =
        new py::object(py::module_::import("re").attr("compile")(R"(\x1b\[[0-9;]*m)"));
    return *pattern;
}

std::size_t visible_width_of(const py::handle& line) {
    if (is_str(line)) return style::visible_width(to_u32(line));
    return py::len(ansi_escape_pattern().attr("sub")("", line));
}

}  // namespace nvx::configure
