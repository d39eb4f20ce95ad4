// Replacing a file's content so that it is never seen half-written: the new
// text goes to a temporary file beside it, is flushed to disk, and then takes
// the old file's place in one rename. All file access goes through the
// module's `open` and `os` at call time.
#pragma once

#include <pybind11/pybind11.h>

namespace nvx::overrides {
namespace py = pybind11;

// Writes `text` as the whole new content of `path`, creating its missing
// directories. On any error the old file (if any) is left as it was and the
// temporary file is removed; the error propagates. An existing file that may
// not be written raises PermissionError, as writing to it in place would; a
// symbolic link keeps pointing at the file it names, which gets the content.
void replace_file_contents(const py::handle& path, const py::str& text);

}  // namespace nvx::overrides
