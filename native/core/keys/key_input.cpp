#include "key_input.hpp"

namespace nvx::keys {
namespace {

// An arrow: the two exact sequences (normal and application cursor mode), then
// any CSI sequence ending in the arrow's letter.
KeyPattern arrow(std::u32string alias, char32_t letter) {
    return {std::move(alias), true, {{U'\x1b', U'[', letter}, {U'\x1b', U'O', letter}},
            U"\x1b[",         U"",  {letter}};
}

// A paging or delete key: the exact sequence, then any CSI sequence holding
// "[<digit>" and ending in "~".
KeyPattern tilde_key(char32_t digit) {
    return {U"", false, {{U'\x1b', U'[', digit, U'~'}}, U"\x1b[", {U'[', digit}, U"~"};
}

KeyPattern exactly(std::vector<std::u32string> texts) {
    return {U"", false, std::move(texts), U"", U"", U""};
}

bool starts_with(const std::u32string& text, const std::u32string& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool ends_with(const std::u32string& text, const std::u32string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

const KeyPattern kUp = arrow(U"k", U'A');
const KeyPattern kDown = arrow(U"j", U'B');
const KeyPattern kLeft = arrow(U"", U'D');
const KeyPattern kRight = arrow(U"", U'C');
const KeyPattern kPageUp = tilde_key(U'5');
const KeyPattern kPageDown = tilde_key(U'6');
const KeyPattern kDelete = tilde_key(U'3');
const KeyPattern kEnter = exactly({U"\r", U"\n"});
const KeyPattern kTab = exactly({U"\t"});
const KeyPattern kSelect = exactly({U" ", U"\r", U"\n"});
const KeyPattern kHome = exactly({U"\x1b[H", U"\x1bOH", U"\x1b[1~", U"\x1b[7~"});
const KeyPattern kEnd = exactly({U"\x1b[F", U"\x1bOF", U"\x1b[4~", U"\x1b[8~"});

bool matches(const KeyPattern& pattern, const std::u32string& key) {
    if (!pattern.alias.empty() && key == pattern.alias) return true;
    if (pattern.escape_only && !starts_with(key, U"\x1b")) return false;
    for (const std::u32string& text : pattern.exact) {
        if (key == text) return true;
    }
    if (pattern.prefix.empty()) return false;
    return starts_with(key, pattern.prefix) &&
           (pattern.part.empty() || key.find(pattern.part) != std::u32string::npos) &&
           ends_with(key, pattern.suffix);
}

bool ends_escape_sequence(std::uint8_t byte) {
    if (byte == '~') return true;
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z')) return true;
    // Latin-1 letters: feminine and masculine ordinals, micro sign, and the
    // accented letters except the multiplication and division signs.
    if (byte == 0xAA || byte == 0xB5 || byte == 0xBA) return true;
    return byte >= 0xC0 && byte != 0xD7 && byte != 0xF7;
}

std::u32string from_latin1(const std::string& bytes) {
    std::u32string out;
    out.reserve(bytes.size());
    for (const char c : bytes) out.push_back(static_cast<unsigned char>(c));
    return out;
}

}  // namespace nvx::keys
