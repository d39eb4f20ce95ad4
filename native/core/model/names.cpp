#include "names.hpp"

#include <stdexcept>

namespace nvx::model {
namespace {

class TextOnlyOracle final : public NameOracle {
public:
    bool equal(const Name&, const Name&) override { return refuse(); }
    bool differ(const Name&, const Name&) override { return refuse(); }
    std::int64_t hash(const Name&) override { return refuse(); }
    bool contains(std::uint32_t, const Name&) override { return refuse(); }
    std::vector<std::size_t> sorted_order(const std::vector<Name>&) override {
        refuse();
        return {};
    }
    std::u32string text_of(const Name&) override {
        refuse();
        return {};
    }

private:
    [[noreturn]] static bool refuse() { throw std::logic_error("an opaque name without an oracle"); }
};

bool plain(const Name& a, const Name& b) {
    return a.kind != Name::Kind::Opaque && b.kind != Name::Kind::Opaque;
}

// Text and None compared without the interpreter: equal when both are None or both the same text.
bool plain_equal(const Name& a, const Name& b) {
    return a.kind == b.kind && (a.is_none() || a.text == b.text);
}

}  // namespace

NameOracle& text_only_oracle() {
    static TextOnlyOracle oracle;
    return oracle;
}

bool equal(const Name& item, const Name& probe, NameOracle& oracle) {
    if (plain(item, probe)) return plain_equal(item, probe);
    if (item.token != kNoToken && item.token == probe.token) return true;
    return oracle.equal(item, probe);
}

bool differ(const Name& value, const Name& other, NameOracle& oracle) {
    if (plain(value, other)) return !plain_equal(value, other);
    return oracle.differ(value, other);
}

bool same_key(const Name& stored, const Name& probe, NameOracle& oracle) {
    if (plain(stored, probe)) return plain_equal(stored, probe);
    if (stored.token != kNoToken && stored.token == probe.token) return true;
    return oracle.hash(stored) == oracle.hash(probe) && oracle.equal(stored, probe);
}

std::u32string text_of(const Name& value, NameOracle& oracle) {
    switch (value.kind) {
        case Name::Kind::Text:
            return decode_utf8(value.text);
        case Name::Kind::None:
            return U"None";
        case Name::Kind::Opaque:
            break;
    }
    return oracle.text_of(value);
}

std::u32string decode_utf8(std::string_view utf8) {
    std::u32string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xe0 ? 2 : lead < 0xf0 ? 3 : 4;
        char32_t c = length == 1   ? lead
                     : length == 2 ? (lead & 0x1f)
                     : length == 3 ? (lead & 0x0f)
                                   : (lead & 0x07);
        for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k) {
            c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3f);
        }
        out += c;
        i += length;
    }
    return out;
}

}  // namespace nvx::model
