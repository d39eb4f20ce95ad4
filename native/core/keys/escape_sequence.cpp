#include "escape_sequence.hpp"

#include <utility>

#include "key_input.hpp"

namespace nvx::keys {
namespace {

constexpr double kLoneEscapeWait = 0.05;
constexpr double kThirdByteWait = 0.15;
constexpr double kNextByteWait = 0.01;

}  // namespace

EscapeSequence::EscapeSequence(std::string first) : bytes_(std::move(first)) {
    if (bytes_ == "\x1b") {
        need_ = Need::Input;
        wait_ = kLoneEscapeWait;
    }
}

void EscapeSequence::input_ready(bool ready) {
    if (ready) {
        need_ = Need::Byte;
    } else if (stage_ == Stage::Third) {
        // No third byte in time: the sequence may still be complete.
        stage_ = Stage::Tail;
        continue_tail();
    } else {
        need_ = Need::Nothing;
    }
}

void EscapeSequence::add(const std::string& bytes) {
    if (bytes.empty()) {
        need_ = Need::Nothing;
        return;
    }
    bytes_ += bytes;
    if (stage_ == Stage::Second && (bytes_[1] == '[' || bytes_[1] == 'O')) {
        stage_ = Stage::Third;
        need_ = Need::Input;
        wait_ = kThirdByteWait;
        return;
    }
    stage_ = Stage::Tail;
    continue_tail();
}

void EscapeSequence::continue_tail() {
    if (ends_escape_sequence(static_cast<std::uint8_t>(bytes_.back()))) {
        need_ = Need::Nothing;
    } else {
        need_ = Need::Input;
        wait_ = kNextByteWait;
    }
}

std::u32string EscapeSequence::key() const {
    return from_latin1(bytes_);
}

}  // namespace nvx::keys
