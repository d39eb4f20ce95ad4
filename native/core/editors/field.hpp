// A field of an editor state. An editor the session made has every field; one
// read from a caller's dictionary may lack a field or hold one that cannot be
// read as its type. Such a field keeps the error its reading raised, and the
// editor raises it again when, and only when, a key needs that field: the
// same error at the same point as if the dictionary were read as the editor goes.
#pragma once

#include <exception>
#include <utility>

namespace nvx::editors {

template <typename T>
class Field {
public:
    Field() = default;
    Field(T value) : value_(std::move(value)) {}  // NOLINT: a field is its value

    static Field failed(std::exception_ptr error) {
        Field field;
        field.error_ = std::move(error);
        return field;
    }

    const T& get() const {
        if (error_) std::rethrow_exception(error_);
        return value_;
    }
    T& get() {
        if (error_) std::rethrow_exception(error_);
        return value_;
    }
    void set(T value) {
        value_ = std::move(value);
        error_ = nullptr;
    }

private:
    T value_{};
    std::exception_ptr error_;
};

}  // namespace nvx::editors
