// Reading one key press byte by byte: after the first byte, the decisions on
// how long to wait for more and when the key is complete. The reader that
// owns the terminal asks what is needed next and reports what it got.
//
// A lone ESC followed by nothing within 50 ms is the Escape key. After
// "ESC [" or "ESC O" a slow third byte gets 150 ms. Then the sequence is
// complete at a letter or "~", or when no byte follows within 10 ms. End of
// input (an empty read) completes the key at once.
#pragma once

#include <string>

namespace nvx::keys {

class EscapeSequence {
public:
    enum class Need {
        Input,    // wait up to wait_seconds() for input, then call input_ready()
        Byte,     // read one byte and pass it to add()
        Nothing,  // key() is complete
    };

    // Starts from the first byte read (not Ctrl-C, which the reader handles).
    explicit EscapeSequence(std::string first);

    Need need() const { return need_; }
    double wait_seconds() const { return wait_; }
    void input_ready(bool ready);
    // The bytes of one read; empty at end of input.
    void add(const std::string& bytes);

    // The key string: the bytes read as Latin-1.
    std::u32string key() const;

private:
    // Which byte of the sequence comes next.
    enum class Stage { Second, Third, Tail };

    // In the tail: done at a letter or "~", else wait for the next byte.
    void continue_tail();

    std::string bytes_;
    Stage stage_ = Stage::Second;
    Need need_ = Need::Nothing;
    double wait_ = 0;
};

}  // namespace nvx::keys
