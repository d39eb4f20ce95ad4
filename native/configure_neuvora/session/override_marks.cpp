// Overrides the user can see and take back: the mark on the Targets rows and
// type rules that hold overrides, and removing one setting from a scope in the
// overrides overlay.
#include <algorithm>

#include "common/interp.hpp"
#include "common/module_namespace.hpp"
#include "core/screens/targets_text.hpp"
#include "core/text/styling.hpp"
#include "session.hpp"

namespace nvx::configure {
namespace {

py::object override_mark() {
    return from_u32(targets::override_mark());
}

}  // namespace

py::object Session::scopes_with_overrides() {
    py::set marked;
    for (const py::object& source : {existing_module_settings_, py::object(module_settings_overrides_)}) {
        for (const py::handle scope_key : source) {
            if (marked.contains(scope_key)) continue;
            if (truthy(call_global("get_scope_values", scope_key, module_settings_overrides_,
                                   existing_module_settings_))) {
                marked.add(scope_key);
            }
        }
    }
    return std::move(marked);
}

py::object Session::with_override_marks(py::object body, const py::list& visible, const py::object& marked) {
    if (!truthy(marked)) return body;
    py::list lines = list_copy(body);
    // Where each row starts: a restructured module takes two lines, every other row one.
    std::vector<Py_ssize_t> first_line;
    Py_ssize_t next = 0;
    for (const py::handle entry : visible) {
        first_line.push_back(next);
        next += truthy(entry["is_replaced_root"]) ? 2 : 1;
    }
    if (next != static_cast<Py_ssize_t>(py::len(lines))) return body;  // not the rows it was given

    Py_ssize_t row = 0;
    for (const py::handle entry : visible) {
        const Py_ssize_t at = first_line[static_cast<std::size_t>(row++)];
        if (truthy(entry["is_replaced_root"]) || truthy(entry["in_replaced"])) continue;
        if (!marked.contains(entry["id"])) continue;
        // The mark follows the mode, before the parameter count.
        py::str line = lines[at];
        py::object count = entry["direct_param_count"];
        py::str params("");
        if (count > py::int_(0)) {
            params = call_global("dim", py::str("   params=") + call_global("format_human_count", count));
        }
        const auto cut = truthy(params) ? py::cast<Py_ssize_t>(line.attr("rfind")(params)) : -1;
        if (cut >= 0) {
            lines[at] = py::object(line[py::slice(0, cut, 1)]) + override_mark() +
                        py::object(line[py::slice(cut, static_cast<Py_ssize_t>(py::len(line)), 1)]);
        } else {
            lines[at] = line + override_mark();
        }
    }
    return std::move(lines);
}

py::object Session::type_rules_box() {
    // Never wider than the terminal; the rules of classes that hold overrides are marked.
    const long long columns = std::max(0LL, terminal_now().columns);
    py::list box;
    for (const std::u32string& line :
         table().type_rules_block(scopes_with_overrides(), static_cast<std::size_t>(columns))) {
        box.append(from_u32(line));
    }
    return std::move(box);
}

py::object Session::with_type_rules(const py::object& header, const py::object& box) {
    py::list blank;
    blank.append(py::str(""));
    return header + blank + box + blank;
}

void Session::remove_override(const py::object& name) {
    py::object scope_key = ov_scope_["scope_key"];
    py::object scoped =
        call_global("get_scope_values", scope_key, module_settings_overrides_, existing_module_settings_);
    if (!scoped.contains(name)) {
        status_message_ = to_str(name) + py::str(" has no override here to remove.");
    } else {
        call_global("remove_module_scoped_value", module_settings_overrides_, scope_key, name);
        status_message_ = to_str(name) + py::str(" override removed here.");
    }
    notice_ = status_message_;
}

}  // namespace nvx::configure
