#include "persistence.hpp"

#include <string>

#include "atomic_write.hpp"
#include "common/interp.hpp"
#include "configure_neuvora/seams.hpp"
#include "scopes.hpp"

namespace nvx::overrides {
namespace {

bool exists(const py::handle& path) {
    return truthy(configure::seam(configure::Seam::Os).attr("path").attr("exists")(path));
}

// `mapping.get(key)` when it is a dict, else None.
py::object dict_member(const py::dict& mapping, const py::handle& key) {
    PyObject* found = PyDict_GetItemWithError(mapping.ptr(), key.ptr());  // borrowed
    if (found == nullptr) {
        if (PyErr_Occurred()) throw py::error_already_set();
        return py::none();
    }
    return py::reinterpret_borrow<py::object>(found);
}

// Scopes of one source file into `result`; entries taken before an error stay.
void take_saved_scopes(const py::handle& path, py::dict& result) {
    py::object document = configure::read_json_file(path);
    if (!is_dict(document)) {
        raise(PyExc_AttributeError, "module_settings: top level is not a JSON object");
    }
    PyObject* settings = PyDict_GetItemWithError(document.ptr(), py::str("module_settings").ptr());
    if (settings == nullptr) {
        if (PyErr_Occurred()) throw py::error_already_set();
        return;  // no saved overrides in this file
    }
    if (!is_dict(settings)) {
        raise(PyExc_AttributeError, "module_settings is not a JSON object");
    }
    for (auto member : py::reinterpret_borrow<py::dict>(py::handle(settings))) {
        if (is_dict(member.second)) {
            result[member.first] = py::reinterpret_steal<py::dict>(PyDict_Copy(member.second.ptr()));
        }
    }
}

// The error for a target whose top level is not a JSON object: an
// AttributeError, as reading the member of a list or a text would raise, and
// a ValueError, as every other content that must not be overwritten raises,
// so that callers catching either see it. Made once, kept for the process.
PyObject* not_an_object_error() {
    static PyObject* const type = [] {
        PyObject* bases = PyTuple_Pack(2, PyExc_AttributeError, PyExc_ValueError);
        if (bases == nullptr) throw py::error_already_set();
        PyObject* made = PyErr_NewException("neuvora.configure_neuvora.NotAJsonObjectError", bases, nullptr);
        Py_DECREF(bases);
        if (made == nullptr) throw py::error_already_set();
        return made;
    }();
    return type;
}

// The current content of a target as the JSON object to merge into: an empty
// one when the file does not exist. A file that exists but is not readable as
// a JSON object raises, naming the file, so that it is never overwritten.
py::dict read_target(const py::handle& path) {
    if (!exists(path)) return py::dict();
    py::object document;
    try {
        document = configure::read_json_file(path);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_Exception)) throw;
        if (e.matches(PyExc_OSError)) {
            // The interpreter's own error (permission, a directory, ...); make
            // sure it names the file.
            if (py::getattr(e.value(), "filename", py::none()).is_none()) {
                e.value().attr("filename") = path;
            }
            throw;
        }
        const std::string message = "cannot save module_settings into " +
                                    py::cast<std::string>(py::repr(path)) +
                                    ": its content is not valid JSON; the file was left unchanged";
        py::raise_from(e, PyExc_ValueError, message.c_str());
        throw py::error_already_set();
    }
    if (!is_dict(document)) {
        const std::string message = "cannot save module_settings into " +
                                    py::cast<std::string>(py::repr(path)) + ": its top level is a JSON " +
                                    py::cast<std::string>(py::type::handle_of(document).attr("__name__")) +
                                    ", not an object; the file was left unchanged";
        raise(not_an_object_error(), message);
    }
    return py::reinterpret_borrow<py::dict>(document);
}

// The whole text `json.dump(document, <file>, indent=2)` writes, built before
// any file is touched, so a value JSON cannot represent fails here.
py::str serialize(const py::dict& document) {
    using namespace py::literals;
    py::object buffer = py::module_::import("io").attr("StringIO")();
    configure::seam(configure::Seam::Json).attr("dump")(document, buffer, "indent"_a = 2);
    return buffer.attr("getvalue")();
}

}  // namespace

py::dict load_existing_settings() {
    py::dict result;
    py::list sources;
    py::object pc = configure::configuration();
    py::object config_file = pc.attr("get_config_file")();
    py::object run_config = pc.attr("get_run_config_path")();
    if (truthy(config_file)) sources.append(config_file);
    if (truthy(run_config)) sources.append(run_config);

    for (py::handle path : sources) {
        if (!exists(path)) continue;
        try {
            take_saved_scopes(path, result);
        } catch (py::error_already_set& e) {
            if (!e.matches(PyExc_Exception)) throw;
            // Optional file: unreadable or malformed counts as empty.
        }
    }
    return result;
}

void persist_settings_updates(const py::handle& module_settings_overrides, bool overwrite_config_file) {
    if (!truthy(module_settings_overrides)) return;

    py::list targets;
    py::object pc = configure::configuration();
    py::object run_config = pc.attr("get_run_config_path")();
    if (truthy(run_config)) targets.append(run_config);
    if (overwrite_config_file) {
        py::object config_file = pc.attr("get_config_file")();
        if (truthy(config_file)) {
            if (!contains(targets, config_file)) targets.append(config_file);
        }
    }

    const py::str member("module_settings");
    for (py::handle path : targets) {
        py::dict document = read_target(path);
        py::object saved = dict_member(document, member);
        py::dict settings = is_dict(saved) ? py::reinterpret_borrow<py::dict>(saved) : py::dict();

        for (py::handle pair : module_settings_overrides.attr("items")()) {
            py::object scope_key = pair[py::int_(0)];
            py::object current = dict_member(settings, scope_key);
            py::dict merged = is_dict(current) ? py::reinterpret_borrow<py::dict>(current) : py::dict();
            bool removed_any = false;
            for (py::handle setting : pair[py::int_(1)].attr("items")()) {
                py::object name = setting[py::int_(0)];
                py::object value = setting[py::int_(1)];
                if (!is_removed(value)) {
                    merged[name] = value;
                    continue;
                }
                removed_any = true;
                if (PyDict_Contains(merged.ptr(), name.ptr()) == 1) {
                    if (PyDict_DelItem(merged.ptr(), name.ptr()) != 0) throw py::error_already_set();
                }
            }
            if (removed_any && merged.empty()) {
                // The last setting of the scope was removed: the scope goes too.
                if (PyDict_Contains(settings.ptr(), scope_key.ptr()) == 1) {
                    if (PyDict_DelItem(settings.ptr(), scope_key.ptr()) != 0) throw py::error_already_set();
                }
                continue;
            }
            settings[scope_key] = merged;
        }
        document[member] = settings;

        replace_file_contents(path, serialize(document));
    }
}

}  // namespace nvx::overrides
