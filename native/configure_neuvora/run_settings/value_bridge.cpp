#include "value_bridge.hpp"

#include <memory>
#include <utility>

#include "common/interp.hpp"

namespace nvx::configure {
namespace {

class ObjectHandle final : public settings::Handle {
public:
    explicit ObjectHandle(py::object object) : object_(std::move(object)) {}
    std::u32string text() const override { return to_u32(to_str(object_)); }
    const py::object& object() const { return object_; }

private:
    py::object object_;
};

settings::HandleRef handle_of(const py::handle& object) {
    return std::make_shared<const ObjectHandle>(py::reinterpret_borrow<py::object>(object));
}

const ObjectHandle* object_handle(const settings::HandleRef& handle) {
    return dynamic_cast<const ObjectHandle*>(handle.get());
}

}  // namespace

settings::Value to_value(const py::handle& object) {
    using Kind = settings::Value::Kind;
    settings::Value value;
    value.handle = handle_of(object);
    if (object.is_none()) {
        value.kind = Kind::None;
    } else if (is_bool(object)) {
        value.kind = Kind::Bool;
        value.truth = object.ptr() == Py_True;
    } else if (PyLong_Check(object.ptr())) {
        value.kind = Kind::Int;
    } else if (PyFloat_Check(object.ptr())) {
        value.kind = Kind::Float;
    } else if (PyList_Check(object.ptr())) {
        value.kind = Kind::List;
        value.items = to_values(object);
    } else {
        value.kind = Kind::Other;
    }
    return value;
}

std::vector<settings::Value> to_values(const py::handle& items) {
    std::vector<settings::Value> values;
    for (const py::handle item : list_copy(items)) values.push_back(to_value(item));
    return values;
}

py::object to_object(const settings::Value& value) {
    using Kind = settings::Value::Kind;
    if (const ObjectHandle* handle = object_handle(value.handle)) return handle->object();
    switch (value.kind) {
        case Kind::None:
            return py::none();
        case Kind::Bool:
            return py::bool_(value.truth);
        case Kind::List: {
            py::list items;
            for (const settings::Value& item : value.items) items.append(to_object(item));
            return std::move(items);
        }
        default:
            return from_u32(value.own_text);
    }
}

settings::Name to_name(const py::handle& object) {
    return {to_u32(to_str(object)), handle_of(object)};
}

py::object to_object(const settings::Name& name) {
    if (const ObjectHandle* handle = object_handle(name.handle)) return handle->object();
    return from_u32(name.text);
}

py::list to_text_list(const std::vector<std::u32string>& texts) {
    py::list list;
    for (const std::u32string& text : texts) list.append(from_u32(text));
    return list;
}

}  // namespace nvx::configure
