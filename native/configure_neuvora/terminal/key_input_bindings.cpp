// read_single_key, the key predicates and the alternate screen.
//
// Every platform call goes through the module's `sys`, `os`, `select`,
// `termios` and `tty` attributes, looked up when used, so they can be replaced
// from Python.
#include <pybind11/pybind11.h>

#include <string>

#include "common/functions.hpp"
#include "common/interp.hpp"
#include "common/module_namespace.hpp"
#include "configure_neuvora/registry.hpp"
#include "core/keys/key_input.hpp"
#include "resize_signal.hpp"

namespace nvx::configure {
namespace {

using namespace py::literals;

// Bytes of one `os.read` result (a byte string, or anything `bytes()` accepts).
std::string bytes_of(const py::object& data) {
    if (PyBytes_Check(data.ptr())) return py::cast<std::string>(py::reinterpret_borrow<py::bytes>(data));
    return py::cast<std::string>(py::bytes(global("bytes")(data)));
}

std::string read_byte(const py::object& fd) {
    return bytes_of(global("os").attr("read")(fd, 1));
}

// Waits up to `seconds` for input on `fd`; true when it is ready to read.
bool input_ready(const py::object& fd, double seconds) {
    py::list watched;
    watched.append(fd);
    py::object ready = global("select").attr("select")(watched, py::list(), py::list(), seconds);
    return truthy(ready[py::int_(0)]);
}

py::str latin1(const std::string& bytes) {
    return from_u32(keys::from_latin1(bytes));
}

// One key press; runs with the saved attributes restored by the caller.
py::object read_key_in_raw_mode(const py::object& fd) {
    // TCSANOW: raw mode starts at once and keeps whatever was typed ahead
    // (the default, TCSAFLUSH, would discard keys typed while a frame was drawn).
    global("tty").attr("setraw")(fd, global("termios").attr("TCSANOW"));

    py::object first = global("os").attr("read")(fd, 1);
    if (equals(first, py::bytes("\x03", 1))) {
        PyErr_SetNone(PyExc_KeyboardInterrupt);
        throw py::error_already_set();
    }
    resize::key_started();  // from here on a resize must not cut the key short
    std::string sequence = bytes_of(first);
    if (sequence != "\x1b") return latin1(sequence);

    if (!input_ready(fd, 0.05)) return latin1(sequence);  // Escape by itself
    std::string more = read_byte(fd);
    if (more.empty()) return latin1(sequence);  // end of input
    sequence += more;

    if (sequence[1] == '[' || sequence[1] == 'O') {
        // Some terminals send the byte after "\e[" / "\eO" late.
        if (input_ready(fd, 0.15)) {
            more = read_byte(fd);
            if (more.empty()) return latin1(sequence);
            sequence += more;
        }
    }
    while (!keys::ends_escape_sequence(static_cast<std::uint8_t>(sequence.back()))) {
        if (!input_ready(fd, 0.01)) break;
        more = read_byte(fd);
        if (more.empty()) break;  // end of input ends the sequence
        sequence += more;
    }
    return latin1(sequence);
}

void restore_attributes(const py::object& fd, const py::object& saved) {
    py::object termios = global("termios");
    termios.attr("tcsetattr")(fd, termios.attr("TCSADRAIN"), saved);
}

py::object read_single_key() {
    py::object fd = global("sys").attr("stdin").attr("fileno")();
    py::object saved = global("termios").attr("tcgetattr")(fd);
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

bool call_bool(const py::object& key, const char* method, const char* arg) {
    return truthy(key.attr(method)(from_utf8(arg)));
}

bool contains(const py::object& key, const char* part) {
    return nvx::contains(key.ptr(), from_utf8(part).ptr());
}

// The same tests as the code-point predicates, made through the value's own
// comparison and string methods, for values that are not text (their errors
// propagate as the interpreter raises them).
bool arrow_of_object(const py::object& key, const char* letter_alias, char letter) {
    if (letter_alias != nullptr && equals(key, from_utf8(letter_alias))) return true;
    if (!call_bool(key, "startswith", "\x1b")) return false;
    const std::string normal = std::string("\x1b[") + letter;
    const std::string application = std::string("\x1bO") + letter;
    if (equals(key, from_utf8(normal)) || equals(key, from_utf8(application))) return true;
    const std::string last(1, letter);
    return call_bool(key, "startswith", "\x1b[") && call_bool(key, "endswith", last.c_str());
}

bool tilde_of_object(const py::object& key, char digit) {
    const std::string exact = std::string("\x1b[") + digit + "~";
    if (equals(key, from_utf8(exact))) return true;
    const std::string part = std::string("[") + digit;
    return call_bool(key, "startswith", "\x1b[") && contains(key, part.c_str()) &&
           call_bool(key, "endswith", "~");
}

bool equals_any(const py::object& key, std::initializer_list<const char*> texts) {
    for (const char* text : texts) {
        if (equals(key, from_utf8(text))) return true;
    }
    return false;
}

using TextPredicate = bool (*)(const std::u32string&);
using ObjectPredicate = bool (*)(const py::object&);

void def_predicate(py::module_& m, const char* name, const char* doc, TextPredicate on_text,
                   ObjectPredicate on_object) {
    def(m, name, {"key"}, doc,
        [on_text, on_object](Args& a) { return is_str(a[0]) ? on_text(to_u32(a[0])) : on_object(a[0]); });
}

}  // namespace

void register_key_input(py::module_& m) {
    def(m, "read_single_key", {},
        "Read one keypress, including arrow keys, from stdin.\n\n"
        "    Ctrl-C raises KeyboardInterrupt so the caller can exit cleanly.\n    ",
        [](Args&) { return read_single_key(); });

    def_predicate(m, "is_up_key", nullptr, keys::is_up,
                  [](const py::object& k) { return arrow_of_object(k, "k", 'A'); });
    def_predicate(m, "is_down_key", nullptr, keys::is_down,
                  [](const py::object& k) { return arrow_of_object(k, "j", 'B'); });
    def_predicate(m, "is_left_key", nullptr, keys::is_left,
                  [](const py::object& k) { return arrow_of_object(k, nullptr, 'D'); });
    def_predicate(m, "is_right_key", nullptr, keys::is_right,
                  [](const py::object& k) { return arrow_of_object(k, nullptr, 'C'); });
    def_predicate(m, "is_page_up_key", nullptr, keys::is_page_up,
                  [](const py::object& k) { return tilde_of_object(k, '5'); });
    def_predicate(m, "is_page_down_key", nullptr, keys::is_page_down,
                  [](const py::object& k) { return tilde_of_object(k, '6'); });
    def_predicate(m, "is_delete_key", nullptr, keys::is_delete,
                  [](const py::object& k) { return tilde_of_object(k, '3'); });
    def_predicate(m, "is_enter_key", nullptr, keys::is_enter,
                  [](const py::object& k) { return equals_any(k, {"\r", "\n"}); });
    def_predicate(m, "is_tab_key", nullptr, keys::is_tab,
                  [](const py::object& k) { return equals_any(k, {"\t"}); });
    def_predicate(m, "is_select_key", "Space/Enter \u2014 used only inside the inline value editors.",
                  keys::is_select, [](const py::object& k) { return equals_any(k, {" ", "\r", "\n"}); });

    def(m, "enter_alternate_screen", {}, "Switch terminal to alternate screen buffer for the interactive UI.",
        [](Args&) { print_text(from_u32(keys::kEnterAlternateScreen), "", true); });
    def(m, "exit_alternate_screen", {}, "Return terminal to the normal screen buffer.",
        [](Args&) { print_text(from_u32(keys::kExitAlternateScreen), "", true); });
}

}  // namespace nvx::configure
