// Module ids, class names and rule values as the target model sees them.
//
// A value that is plain text is held as its UTF-8 and compared as text; the
// text is a view into the adapter's value, valid while the adapter that read
// it holds that value (its table, its pool). Any
// other value (text of a class of its own, a number, a tuple, None where a
// name may be None) is opaque: the model keeps only the token the adapter that
// read it gave it, and asks that adapter, through a NameOracle, how such a
// value compares, hashes, sorts and reads as text. Models and rule lists made
// of plain text never ask.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nvx::model {

inline constexpr std::uint32_t kNoToken = 0xffffffffu;

struct Name {
    enum class Kind : std::uint8_t { Text, Opaque, None };
    Kind kind = Kind::None;
    std::string_view text;           // UTF-8, for Kind::Text
    std::uint32_t token = kNoToken;  // the adapter's handle of the value (any kind may have one)

    static Name of_text(std::string_view utf8, std::uint32_t token = kNoToken) {
        return Name{Kind::Text, utf8, token};
    }
    static Name of_opaque(std::uint32_t token) { return Name{Kind::Opaque, {}, token}; }
    static Name of_none(std::uint32_t token = kNoToken) { return Name{Kind::None, {}, token}; }

    bool is_text() const { return kind == Kind::Text; }
    bool is_none() const { return kind == Kind::None; }
};

// How opaque values behave, answered by the adapter that read them with the
// interpreter's own rules. Every method may throw what the interpreter raised.
class NameOracle {
public:
    virtual ~NameOracle() = default;
    // `probe in [item]`: the same object, or `item == probe`.
    virtual bool equal(const Name& item, const Name& probe) = 0;
    // The operator `value != other` itself.
    virtual bool differ(const Name& value, const Name& other) = 0;
    // `hash(value)` as a set or dict hashes a key (raises for unhashable values).
    virtual std::int64_t hash(const Name& value) = 0;
    // `probe in container`, asked of a rule list that is neither a list nor a tuple.
    virtual bool contains(std::uint32_t container, const Name& probe) = 0;
    // Positions of `values` in the order `sorted(values)` gives them.
    virtual std::vector<std::size_t> sorted_order(const std::vector<Name>& values) = 0;
    // `str(value)`, in code points.
    virtual std::u32string text_of(const Name& value) = 0;
};

// For models and rule lists made of plain text only: asking it is a fault.
NameOracle& text_only_oracle();

// `probe in [item]` (identity or ==), taking the oracle only when a side is not text.
bool equal(const Name& item, const Name& probe, NameOracle& oracle);
// `value != other`.
bool differ(const Name& value, const Name& other, NameOracle& oracle);
// One key of a set or dict: equal hashes, then the same object or ==.
bool same_key(const Name& stored, const Name& probe, NameOracle& oracle);

// `str(value)` in code points: the text of a Text name, "None" for None, else the oracle's.
std::u32string text_of(const Name& value, NameOracle& oracle);

// UTF-8 to code points (the text of a Text name is always valid UTF-8).
std::u32string decode_utf8(std::string_view utf8);

}  // namespace nvx::model
