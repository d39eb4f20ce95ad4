// Values from the interpreter that the core carries without understanding
// them: setting values, enumerated options, per-module override values. The
// core sees what its rules need (the kind, a truth value, the text an editor
// starts from, list items); the adapter that made a value keeps the object
// itself behind an opaque handle and gets it back from there.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace nvx::settings {

// The interpreter's object behind a value; only the adapter that made it looks inside.
class Handle {
public:
    virtual ~Handle() = default;
};
using HandleRef = std::shared_ptr<const Handle>;

struct Value {
    enum class Kind { Bool, Int, Float, List, Other };
    Kind kind = Kind::Other;
    bool truth = false;         // the value of a Bool
    std::u32string text;        // str(value)
    std::vector<Value> items;   // the elements of a List
    HandleRef handle;           // the object itself
};

}  // namespace nvx::settings
