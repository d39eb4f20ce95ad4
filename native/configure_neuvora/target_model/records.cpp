#include "records.hpp"

#include "common/interp.hpp"
#include "names.hpp"

namespace nvx::target {
namespace {

PyObject* mode_word(model::Mode mode) {
    switch (mode) {
        case model::Mode::Dendrified:
            return names().dendrified;
        case model::Mode::Tracked:
            return names().tracked;
        case model::Mode::None:
            break;
    }
    return Py_None;
}

PyObject* source_word(model::Source source) {
    switch (source) {
        case model::Source::Inherited:
            return names().inherited;
        case model::Source::Id:
            return names().id_source;
        case model::Source::Type:
            return names().type_source;
        case model::Source::None:
            break;
    }
    return Py_None;
}

}  // namespace

bool is_word(const py::handle& value, PyObject* word) {
    if (PyUnicode_CheckExact(value.ptr()))
        return value.ptr() == word || PyUnicode_Compare(value.ptr(), word) == 0;
    return equals(value, word);
}

py::object record_of(const EntryReader& reader, const model::Resolution& resolution, std::size_t row) {
    const Names& n = names();
    py::object record = steal(PyDict_New());
    set_item(record.ptr(), n.eff, mode_word(resolution.eff[row]));
    set_item(record.ptr(), n.source, source_word(resolution.source[row]));
    set_item(record.ptr(), n.origin_id,
             reader.id_object(static_cast<std::size_t>(resolution.origin[row])).ptr());
    if (resolution.own_mode[row] != model::Mode::None) {
        py::object overridden = steal(PyDict_New());
        set_item(overridden.ptr(), n.mode, mode_word(resolution.own_mode[row]));
        set_item(overridden.ptr(), n.source, source_word(resolution.own_source[row]));
        set_item(record.ptr(), n.overridden, overridden.ptr());
    } else {
        set_item(record.ptr(), n.overridden, Py_None);
    }
    return record;
}

py::object record_map(const EntryReader& reader, const model::Resolution& resolution) {
    GcPause pause;
    py::object result = steal(PyDict_New());
    for (std::size_t row = 0; row < reader.size(); ++row) {
        set_item(result.ptr(), reader.id_object(row).ptr(), record_of(reader, resolution, row).ptr());
    }
    return result;
}

py::object record_in(const py::handle& resolved, const EntryReader& reader, std::size_t row) {
    reader.table().id(row);
    return get_item(resolved, reader.id_object(row));
}

py::object eff_in(const py::handle& resolved, const EntryReader& reader, std::size_t row) {
    return get_item(record_in(resolved, reader, row), names().eff);
}

model::Mode mode_of(const py::handle& eff) {
    if (is_word(eff, names().dendrified)) return model::Mode::Dendrified;
    if (is_word(eff, names().tracked)) return model::Mode::Tracked;
    return model::Mode::None;
}

py::object mode_object(model::Mode mode) {
    return borrow(mode_word(mode));
}

py::object source_object(model::Source source) {
    return borrow(source_word(source));
}

}  // namespace nvx::target
