#include "atomic_write.hpp"

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "common/interp.hpp"
#include "configure_neuvora/seams.hpp"

namespace nvx::overrides {
namespace {

// Runs `step`, swallowing errors of the given family: for the clean-up and
// durability steps that must not hide the error that matters.
template <typename Step>
void best_effort(Step&& step, PyObject* family = PyExc_OSError) {
    try {
        step();
    } catch (py::error_already_set& e) {
        if (!e.matches(family)) throw;
    }
}

[[noreturn]] void raise_not_writable(const py::handle& path) {
    PyObject* error =
        PyObject_CallFunction(PyExc_PermissionError, "isO", EACCES, std::strerror(EACCES), path.ptr());
    if (error == nullptr) throw py::error_already_set();
    PyErr_SetObject(PyExc_PermissionError, error);
    Py_DECREF(error);
    throw py::error_already_set();
}

// Opens a fresh temporary file beside `destination` (exclusive creation, so an
// unrelated file is never clobbered); returns (file object, its path).
std::pair<py::object, py::object> open_temporary(const py::object& os, const py::object& destination) {
    py::object path_module = os.attr("path");
    py::object directory = path_module.attr("dirname")(destination);
    // Shortened so that the temporary name stays within the file system's limit
    // even for a destination whose own name is close to it.
    py::object base = path_module.attr("basename")(destination)[py::slice(0, 200, 1)];
    py::object pid = os.attr("getpid")();
    for (int attempt = 0;; ++attempt) {
        py::object name = py::str(".{}.{}.{}.tmp").format(base, pid, attempt);
        py::object candidate = path_module.attr("join")(directory, name);
        try {
            return {configure::call_seam(configure::Seam::Open, candidate, "x"), candidate};
        } catch (py::error_already_set& e) {
            if (!e.matches(PyExc_FileExistsError) || attempt >= 99) throw;
        }
    }
}

}  // namespace

void replace_file_contents(const py::handle& path, const py::str& text) {
    py::object os = configure::seam(configure::Seam::Os);
    py::object path_module = os.attr("path");

    // Write through a symbolic link to the file it names, as writing in place would.
    py::object destination = py::reinterpret_borrow<py::object>(path);
    if (truthy(path_module.attr("islink")(path))) {
        destination = path_module.attr("realpath")(path);
    }
    py::object directory = path_module.attr("dirname")(destination);
    if (truthy(directory)) {
        using namespace py::literals;
        os.attr("makedirs")(directory, "exist_ok"_a = true);
    }
    const bool replacing = truthy(path_module.attr("exists")(destination));
    if (replacing && !truthy(os.attr("access")(destination, os.attr("W_OK")))) {
        raise_not_writable(path);
    }

    std::pair<py::object, py::object> opened = open_temporary(os, destination);
    py::object handle = std::move(opened.first);
    py::object temporary = std::move(opened.second);
    try {
        handle.attr("write")(text);
        handle.attr("flush")();
        os.attr("fsync")(handle.attr("fileno")());
        handle.attr("close")();
        if (replacing) {
            // Keep the permission bits of the file being replaced.
            best_effort([&] {
                py::object mode = os.attr("stat")(destination).attr("st_mode");
                os.attr("chmod")(temporary, mode.attr("__and__")(py::int_(07777)));
            });
        }
        os.attr("replace")(temporary, destination);
    } catch (py::error_already_set&) {
        best_effort([&] { handle.attr("close")(); }, PyExc_Exception);
        best_effort([&] { os.attr("unlink")(temporary); }, PyExc_Exception);
        throw;
    }
    // Make the rename itself durable; the new content is in place either way.
    best_effort([&] {
        py::object fd =
            os.attr("open")(truthy(directory) ? directory : py::object(py::str(".")), os.attr("O_RDONLY"));
        best_effort([&] { os.attr("fsync")(fd); });
        os.attr("close")(fd);
    });
}

}  // namespace nvx::overrides
