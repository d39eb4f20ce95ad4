// Values from the interpreter that the core carries without understanding
// them: setting values, enumerated options, per-module override values, and
// the names that key them. The core sees what its rules need (the kind, a
// truth value, list items, the text an editor starts from); the adapter that
// made a value keeps the object itself behind an opaque handle and gets it
// back from there.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace nvx::settings {

// The interpreter's object behind a value; only the adapter that made it looks inside.
class Handle {
public:
    virtual ~Handle() = default;
    // The object as text, as the interpreter's str() gives it (may throw).
    virtual std::u32string text() const = 0;
};
using HandleRef = std::shared_ptr<const Handle>;

struct Value {
    // Bool is exactly a boolean; Int and Float include their subclasses (but
    // never a boolean); List includes list subclasses.
    enum class Kind { None, Bool, Int, Float, List, Other };
    Kind kind = Kind::None;
    bool truth = false;        // the value of a Bool
    std::vector<Value> items;  // the elements of a List
    HandleRef handle;          // the object itself; empty for a value the core made
    std::u32string own_text;   // the text of a value the core made

    // str(value), asked of the object when there is one, so that a value
    // never shown is never turned into text.
    std::u32string text() const { return handle ? handle->text() : own_text; }
    bool is_number() const { return kind == Kind::Int || kind == Kind::Float; }

    static Value boolean(bool truth) {
        Value value;
        value.kind = Kind::Bool;
        value.truth = truth;
        value.own_text = truth ? U"True" : U"False";
        return value;
    }
    static Value list_of(std::vector<Value> items) {
        Value value;
        value.kind = Kind::List;
        value.items = std::move(items);
        return value;
    }
};

// A setting name or an override scope key: its text (str() of the object),
// and the object itself when it came from the interpreter.
struct Name {
    std::u32string text;
    HandleRef handle;
};

// What a setting shows when its value cannot be read.
inline const std::u32string kUnavailable = U"<unavailable>";

}  // namespace nvx::settings
