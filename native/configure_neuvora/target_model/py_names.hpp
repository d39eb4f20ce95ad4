// Interpreter values as the target model's names: plain str values become
// text, anything else an opaque token into an object pool, and the oracle
// answers the model's questions about those tokens with the interpreter's own
// rules (==, !=, hash, `in`, sorted, str).
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <vector>

#include "core/model/names.hpp"

namespace nvx::target {
namespace py = pybind11;

// The objects behind the tokens of one call (or one session pass).
class ObjectPool {
public:
    ObjectPool() = default;
    // A pool for a while within `base`'s life: its own tokens are told apart
    // from `base`'s, and the objects of both are found through it, so names
    // read into either compare through one oracle.
    explicit ObjectPool(const ObjectPool* base) : base_(base) {}
    ObjectPool(const ObjectPool&) = delete;
    ObjectPool& operator=(const ObjectPool&) = delete;

    std::uint32_t add(py::handle value);
    const py::object& operator[](std::uint32_t token) const;

private:
    static constexpr std::uint32_t kOwnToken = 0x80000000u;  // set on a layered pool's own tokens
    const ObjectPool* base_ = nullptr;
    std::vector<py::object> objects_;
};

// `value` as a name: text for an exact str with a UTF-8 form, None for None,
// else opaque. `keep` gives every name a token (rule values are written back
// as the objects they were read as); otherwise only opaque ones get one, and
// the caller keeps `value` alive while the name is used (its text is a view).
model::Name read_name(PyObject* value, ObjectPool& pool, bool keep);

class PyOracle final : public model::NameOracle {
public:
    explicit PyOracle(ObjectPool& pool) : pool_(&pool) {}

    // The object a name stands for (a new str for text without a token).
    py::object object_of(const model::Name& name) const;

    bool equal(const model::Name& item, const model::Name& probe) override;
    bool differ(const model::Name& value, const model::Name& other) override;
    std::int64_t hash(const model::Name& value) override;
    bool contains(std::uint32_t container, const model::Name& probe) override;
    std::vector<std::size_t> sorted_order(const std::vector<model::Name>& values) override;
    std::u32string text_of(const model::Name& value) override;

private:
    ObjectPool* pool_;
};

// A list of the objects the names stand for.
py::list objects_of(const std::vector<model::Name>& names, const PyOracle& oracle);

}  // namespace nvx::target
