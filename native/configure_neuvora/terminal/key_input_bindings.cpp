// read_single_key, the key predicates and the alternate screen.
//
// Every platform call goes through the seams `sys`, `os`, `select`, `termios`
// and `tty`, looked up when used, so they can be replaced from Python; when to
// wait and when a key is complete is decided by the core's EscapeSequence.
#include <pybind11/pybind11.h>

#include <string>

#include "common/functions.hpp"
#include "common/interp.hpp"
#include "configure_neuvora/registry.hpp"
#include "configure_neuvora/seams.hpp"
#include "core/keys/escape_sequence.hpp"
#include "core/keys/key_input.hpp"
#include "resize_signal.hpp"

namespace nvx::configure {
namespace {

using namespace py::literals;

// Bytes of one `os.read` result (a byte string, or anything `bytes()` accepts).
std::string bytes_of(const py::object& data) {
    if (PyBytes_Check(data.ptr())) return py::cast<std::string>(py::reinterpret_borrow<py::bytes>(data));
    const py::handle bytes_type(reinterpret_cast<PyObject*>(&PyBytes_Type));
    return py::cast<std::string>(py::bytes(bytes_type(data)));
}

py::object read_byte(const py::object& fd) {
    return seam(Seam::Os).attr("read")(fd, 1);
}

// Waits up to `seconds` for input on `fd`; true when it is ready to read.
bool input_ready(const py::object& fd, double seconds) {
    py::list watched;
    watched.append(fd);
    py::object ready = seam(Seam::Select).attr("select")(watched, py::list(), py::list(), seconds);
    return truthy(ready[py::int_(0)]);
}

// One key press; runs with the saved attributes restored by the caller.
py::object read_key_in_raw_mode(const py::object& fd) {
    // TCSANOW: raw mode starts at once and keeps whatever was typed ahead
    // (the default, TCSAFLUSH, would discard keys typed while a frame was drawn).
    seam(Seam::Tty).attr("setraw")(fd, seam(Seam::Termios).attr("TCSANOW"));

    py::object first = read_byte(fd);
    if (equals(first, py::bytes("\x03", 1))) {
        PyErr_SetNone(PyExc_KeyboardInterrupt);
        throw py::error_already_set();
    }
    resize::key_started();  // from here on a resize must not cut the key short
    keys::EscapeSequence sequence(bytes_of(first));
    while (true) {
        switch (sequence.need()) {
            case keys::EscapeSequence::Need::Input:
                sequence.input_ready(input_ready(fd, sequence.wait_seconds()));
                break;
            case keys::EscapeSequence::Need::Byte:
                sequence.add(bytes_of(read_byte(fd)));
                break;
            case keys::EscapeSequence::Need::Nothing:
                return from_u32(sequence.key());
        }
    }
}

void restore_attributes(const py::object& fd, const py::object& saved) {
    py::object termios = seam(Seam::Termios);
    termios.attr("tcsetattr")(fd, termios.attr("TCSADRAIN"), saved);
}

py::object read_single_key() {
    py::object fd = seam(Seam::Sys).attr("stdin").attr("fileno")();
    py::object saved = seam(Seam::Termios).attr("tcgetattr")(fd);
    py::object key;
    try {
        key = read_key_in_raw_mode(fd);
    } catch (py::error_already_set& original) {
        try {
            restore_attributes(fd, saved);
        } catch (py::error_already_set& failure) {
            // As in a `finally` block: the new error carries the first as context.
            PyException_SetContext(failure.value().ptr(), original.value().inc_ref().ptr());
            throw;
        }
        throw;
    } catch (...) {
        restore_attributes(fd, saved);
        throw;
    }
    restore_attributes(fd, saved);
    return key;
}

// --- predicates ------------------------------------------------------------

// The pattern's tests made through the value's own comparison and string
// methods, for values that are not text: the interpreter's result, or its
// error, for the same tests in the same order.
bool object_matches(const keys::KeyPattern& pattern, const py::object& key) {
    const auto method_says = [&](const char* method, const std::u32string& text) {
        return truthy(key.attr(method)(from_u32(text)));
    };
    if (!pattern.alias.empty() && equals(key, from_u32(pattern.alias))) return true;
    if (pattern.escape_only && !method_says("startswith", U"\x1b")) return false;
    for (const std::u32string& text : pattern.exact) {
        if (equals(key, from_u32(text))) return true;
    }
    if (pattern.prefix.empty()) return false;
    return method_says("startswith", pattern.prefix) &&
           (pattern.part.empty() || nvx::contains(key, from_u32(pattern.part))) &&
           method_says("endswith", pattern.suffix);
}

// `print(text, end="", flush=True)`.
void write_at_once(const std::u32string& text) {
    call_seam(Seam::Print, from_u32(text), "end"_a = "", "flush"_a = true);
}

void def_predicate(py::module_& m, const char* name, const char* doc, const keys::KeyPattern& pattern) {
    def(m, name, {"key"}, doc, [&pattern](Args& a) {
        return is_str(a[0]) ? keys::matches(pattern, to_u32(a[0])) : object_matches(pattern, a[0]);
    });
}

}  // namespace

void register_key_input(py::module_& m) {
    def(m, "read_single_key", {},
        "Read one keypress, including arrow keys, from stdin.\n\n"
        "    Ctrl-C raises KeyboardInterrupt so the caller can exit cleanly.\n    ",
        [](Args&) { return read_single_key(); });

    def_predicate(m, "is_up_key", nullptr, keys::kUp);
    def_predicate(m, "is_down_key", nullptr, keys::kDown);
    def_predicate(m, "is_left_key", nullptr, keys::kLeft);
    def_predicate(m, "is_right_key", nullptr, keys::kRight);
    def_predicate(m, "is_page_up_key", nullptr, keys::kPageUp);
    def_predicate(m, "is_page_down_key", nullptr, keys::kPageDown);
    def_predicate(m, "is_delete_key", nullptr, keys::kDelete);
    def_predicate(m, "is_enter_key", nullptr, keys::kEnter);
    def_predicate(m, "is_tab_key", nullptr, keys::kTab);
    def_predicate(m, "is_select_key", "Space/Enter \u2014 used only inside the inline value editors.",
                  keys::kSelect);

    def(m, "enter_alternate_screen", {}, "Switch terminal to alternate screen buffer for the interactive UI.",
        [](Args&) { write_at_once(keys::kEnterAlternateScreen); });
    def(m, "exit_alternate_screen", {}, "Return terminal to the normal screen buffer.",
        [](Args&) { write_at_once(keys::kExitAlternateScreen); });
}

}  // namespace nvx::configure
