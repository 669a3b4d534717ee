#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace korvel {

// Requests understood by the resident loader on the board.
enum class LoaderCommand : std::uint8_t {
    LoaderConnect = 0x10,
    LoaderRestart = 0x11,
    LoaderPrepare = 0x16,
    LoaderWriteAtOffset = 0x17,
    LoaderEraseSector = 0x20,
    LoaderWriteAtAddress = 0x21,
};

// The loader's frame, the same in both directions:
//   0x02, command, length (16-bit big-endian), payload, sum, 0x03
// where sum is the low byte of the sum of command, length bytes and payload.
inline constexpr std::uint8_t kLoaderFrameStart = 0x02;
inline constexpr std::uint8_t kLoaderFrameEnd = 0x03;
inline constexpr std::size_t kLoaderFrameOverhead = 6;
// The largest payload we ever send: a 4-byte address and a 1024-byte block.
inline constexpr std::size_t kLoaderMaxRequestPayload = 4 + 1024;

// The bytes of one request. Throws std::length_error for a payload larger
// than any request has, which would be a fault in the caller.
std::vector<std::uint8_t> BuildLoaderFrame(LoaderCommand command,
                                           std::span<const std::uint8_t> payload);

// Recognises one reply frame byte by byte. Bytes before the start byte are
// skipped; a bad sum or a missing end byte drops the frame and the parser
// hunts for the next start byte. Every payload byte counts towards the sum,
// but only the first kKeptPayload are kept: replies are not interpreted, and
// a board announcing 65535 bytes must not make us store them.
class LoaderReplyParser {
  public:
    static constexpr std::size_t kKeptPayload = 64;

    // True once a complete, well-formed frame has been taken; later bytes are
    // ignored until reset().
    bool feed(std::uint8_t byte);
    bool complete() const { return state_ == State::Complete; }
    void reset() { *this = LoaderReplyParser{}; }

    std::uint8_t command() const { return command_; }
    std::uint16_t length() const { return length_; }
    // The kept part of the payload (at most kKeptPayload bytes).
    std::span<const std::uint8_t> keptPayload() const {
        return {kept_.data(), length_ < kKeptPayload ? length_ : kKeptPayload};
    }

  private:
    enum class State { Start, Command, LengthHigh, LengthLow, Payload, Sum, End, Complete };

    State state_ = State::Start;
    std::uint8_t command_ = 0;
    std::uint16_t length_ = 0;
    std::uint16_t received_ = 0;
    std::uint8_t sum_ = 0;
    std::array<std::uint8_t, kKeptPayload> kept_{};
};

}  // namespace korvel
