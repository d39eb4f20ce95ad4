#include "py_names.hpp"

#include <string_view>

#include "common/interp.hpp"

namespace nvx::target {

std::uint32_t ObjectPool::add(py::handle value) {
    objects_.push_back(py::reinterpret_borrow<py::object>(value));
    const auto index = static_cast<std::uint32_t>(objects_.size() - 1);
    return base_ != nullptr ? index | kOwnToken : index;
}

const py::object& ObjectPool::operator[](std::uint32_t token) const {
    if (base_ == nullptr) return objects_[token];
    if ((token & kOwnToken) == 0) return (*base_)[token];
    return objects_[token & ~kOwnToken];
}

model::Name read_name(PyObject* value, ObjectPool& pool, bool keep) {
    if (value == Py_None) return model::Name::of_none(keep ? pool.add(value) : model::kNoToken);
    std::string_view text;
    if (PyUnicode_CheckExact(value) && utf8_view(value, text)) {
        return model::Name::of_text(text, keep ? pool.add(value) : model::kNoToken);
    }
    return model::Name::of_opaque(pool.add(value));
}

py::object PyOracle::object_of(const model::Name& name) const {
    if (name.token != model::kNoToken) return (*pool_)[name.token];
    if (name.is_none()) return py::none();
    return steal(PyUnicode_DecodeUTF8(name.text.data(), static_cast<Py_ssize_t>(name.text.size()), nullptr));
}

bool PyOracle::equal(const model::Name& item, const model::Name& probe) {
    return nvx::equals(object_of(item), object_of(probe));
}

bool PyOracle::differ(const model::Name& value, const model::Name& other) {
    return py_ne(object_of(value).ptr(), object_of(other).ptr());
}

std::int64_t PyOracle::hash(const model::Name& value) {
    const Py_hash_t hash = PyObject_Hash(object_of(value).ptr());
    if (hash == -1 && PyErr_Occurred()) throw py::error_already_set();
    return static_cast<std::int64_t>(hash);
}

bool PyOracle::contains(std::uint32_t container, const model::Name& probe) {
    return nvx::contains((*pool_)[container], object_of(probe));
}

std::vector<std::size_t> PyOracle::sorted_order(const std::vector<model::Name>& values) {
    // `sorted(range(n), key=values.__getitem__)` compares the values exactly as
    // `sorted(values)` would, in the same order.
    py::list objects = objects_of(values, *this);
    py::object builtins = py::module_::import("builtins");
    py::object order = builtins.attr("sorted")(builtins.attr("range")(values.size()),
                                               py::arg("key") = objects.attr("__getitem__"));
    std::vector<std::size_t> positions;
    positions.reserve(values.size());
    for (const py::handle position : order) positions.push_back(py::cast<std::size_t>(position));
    return positions;
}

std::u32string PyOracle::text_of(const model::Name& value) {
    return to_u32(to_str(object_of(value)));
}

py::list objects_of(const std::vector<model::Name>& names, const PyOracle& oracle) {
    py::list out(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i), oracle.object_of(names[i]).release().ptr());
    }
    return out;
}

}  // namespace nvx::target
