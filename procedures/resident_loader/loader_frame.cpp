#include "procedures/resident_loader/loader_frame.h"

#include <stdexcept>

namespace korvel {

std::vector<std::uint8_t> BuildLoaderFrame(LoaderCommand command,
                                           std::span<const std::uint8_t> payload) {
    if (payload.size() > kLoaderMaxRequestPayload) {
        throw std::length_error("resident-loader request payload too large");
    }
    const auto length = static_cast<std::uint16_t>(payload.size());
    std::vector<std::uint8_t> frame;
    frame.reserve(payload.size() + kLoaderFrameOverhead);
    frame.push_back(kLoaderFrameStart);
    frame.push_back(static_cast<std::uint8_t>(command));
    frame.push_back(static_cast<std::uint8_t>(length >> 8));
    frame.push_back(static_cast<std::uint8_t>(length & 0xFF));
    frame.insert(frame.end(), payload.begin(), payload.end());
    std::uint8_t sum = 0;
    for (std::size_t i = 1; i < frame.size(); ++i) {
        sum = static_cast<std::uint8_t>(sum + frame[i]);
    }
    frame.push_back(sum);
    frame.push_back(kLoaderFrameEnd);
    return frame;
}

bool LoaderReplyParser::feed(std::uint8_t byte) {
    switch (state_) {
        case State::Start:
            if (byte == kLoaderFrameStart) {
                state_ = State::Command;
            }
            break;
        case State::Command:
            command_ = byte;
            sum_ = byte;
            state_ = State::LengthHigh;
            break;
        case State::LengthHigh:
            length_ = static_cast<std::uint16_t>(byte << 8);
            sum_ = static_cast<std::uint8_t>(sum_ + byte);
            state_ = State::LengthLow;
            break;
        case State::LengthLow:
            length_ = static_cast<std::uint16_t>(length_ | byte);
            sum_ = static_cast<std::uint8_t>(sum_ + byte);
            received_ = 0;
            state_ = length_ == 0 ? State::Sum : State::Payload;
            break;
        case State::Payload:
            if (received_ < kKeptPayload) {
                kept_[received_] = byte;
            }
            sum_ = static_cast<std::uint8_t>(sum_ + byte);
            if (++received_ == length_) {
                state_ = State::Sum;
            }
            break;
        case State::Sum:
            state_ = byte == sum_ ? State::End : State::Start;
            break;
        case State::End:
            state_ = byte == kLoaderFrameEnd ? State::Complete : State::Start;
            break;
        case State::Complete:
            break;
    }
    return complete();
}

}  // namespace korvel
