#include "key_input.hpp"

namespace nvx::keys {
namespace {

constexpr char32_t kEsc = U'\x1b';

bool starts_with(const std::u32string& text, const std::u32string& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool ends_with(const std::u32string& text, char32_t last) {
    return !text.empty() && text.back() == last;
}

bool contains(const std::u32string& text, const std::u32string& part) {
    return text.find(part) != std::u32string::npos;
}

// Arrow keys: the two exact sequences (normal and application cursor mode),
// then any CSI sequence ending in the arrow's letter (modifier forms such as
// ESC [1;5A).
bool is_arrow(const std::u32string& key, char32_t letter) {
    if (key.empty() || key.front() != kEsc) return false;
    if (key == std::u32string{kEsc, U'[', letter} || key == std::u32string{kEsc, U'O', letter}) {
        return true;
    }
    return starts_with(key, U"\x1b[") && ends_with(key, letter);
}

// Paging and delete keys: the exact sequence, then any CSI sequence holding
// "[<digit>" and ending in "~" (modifier forms such as ESC [5;5~).
bool is_tilde_key(const std::u32string& key, char32_t digit) {
    const std::u32string exact{kEsc, U'[', digit, U'~'};
    if (key == exact) return true;
    return starts_with(key, U"\x1b[") && contains(key, std::u32string{U'[', digit}) && ends_with(key, U'~');
}

}  // namespace

bool is_up(const std::u32string& key) {
    return key == U"k" || is_arrow(key, U'A');
}
bool is_down(const std::u32string& key) {
    return key == U"j" || is_arrow(key, U'B');
}
bool is_left(const std::u32string& key) {
    return is_arrow(key, U'D');
}
bool is_right(const std::u32string& key) {
    return is_arrow(key, U'C');
}
bool is_page_up(const std::u32string& key) {
    return is_tilde_key(key, U'5');
}
bool is_page_down(const std::u32string& key) {
    return is_tilde_key(key, U'6');
}
bool is_delete(const std::u32string& key) {
    return is_tilde_key(key, U'3');
}
bool is_home(const std::u32string& key) {
    return key == U"\x1b[H" || key == U"\x1bOH" || key == U"\x1b[1~" || key == U"\x1b[7~";
}
bool is_end(const std::u32string& key) {
    return key == U"\x1b[F" || key == U"\x1bOF" || key == U"\x1b[4~" || key == U"\x1b[8~";
}
bool is_enter(const std::u32string& key) {
    return key == U"\r" || key == U"\n";
}
bool is_tab(const std::u32string& key) {
    return key == U"\t";
}
bool is_select(const std::u32string& key) {
    return key == U" " || is_enter(key);
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
