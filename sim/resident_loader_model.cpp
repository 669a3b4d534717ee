#include "sim/resident_loader_model.h"

#include <algorithm>
#include <cstdint>

#include "util/byte_order.h"
#include "util/decimal.h"

namespace korvel::sim {

namespace {

constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;

constexpr std::uint8_t kConnect = 0x10;
constexpr std::uint8_t kRestart = 0x11;
constexpr std::uint8_t kPrepare = 0x16;
constexpr std::uint8_t kWriteAtOffset = 0x17;
constexpr std::uint8_t kEraseSector = 0x20;
constexpr std::uint8_t kWriteAtAddress = 0x21;

}  // namespace

bool ParseResidentLoaderFault(const std::string& text, ResidentLoaderFaults& faults,
                              std::string& error) {
    const auto eq = text.find('=');
    const std::string name = text.substr(0, eq);
    const bool hasValue = eq != std::string::npos;
    unsigned value = 0;
    if (hasValue) {
        const std::optional<unsigned> number =
            ParseDecimalAtMost(text.substr(eq + 1), static_cast<unsigned>(INT32_MAX));
        if (!number) {
            error = "fault '" + text + "' needs a whole number after '='";
            return false;
        }
        value = *number;
    }
    if (name == "silent" && !hasValue) {
        faults.silent = true;
    } else if (name == "first-byte-delay" && hasValue) {
        faults.firstByteDelayMs = value;
    } else if (name == "reply-gap" && hasValue) {
        faults.replyGapMs = value;
    } else if (name == "bad-checksum") {
        faults.badChecksumAt = static_cast<int>(value);
    } else if (name == "no-reply" && hasValue && value > 0) {
        faults.noReplyAt = static_cast<int>(value);
    } else {
        error = "unknown fault '" + text +
                "' (silent, first-byte-delay=MS, reply-gap=MS, bad-checksum[=N], no-reply=N)";
        return false;
    }
    return true;
}

std::uint32_t ResidentLoaderModel::Request::argument() const {
    return payload.size() >= 4 ? GetBigEndian32(payload.data()) : 0;
}

ResidentLoaderModel::ResidentLoaderModel(ResidentLoaderFaults faults)
    : faults_(faults), flash_(kFlashSize), erased_(kFlashSize, false) {
    // The loader below the image area, and an older firmware above it.
    for (std::uint32_t i = 0; i < kFlashSize; ++i) {
        flash_[i] = static_cast<std::uint8_t>(i % 251);
    }
    payload_.reserve(kReceiveBuffer);
}

std::span<const std::uint8_t> ResidentLoaderModel::imageArea() const {
    return std::span(flash_).subspan(kImageAreaStart);
}

void ResidentLoaderModel::onByte(VirtualNs at, std::uint8_t byte) {
    if (!(line() == LineSettings{kBaudRate})) {
        ++noiseBytes_;
        rx_ = Rx::Idle;
        return;
    }
    if (rx_ != Rx::Idle && at - lastByteAt_ > kFrameGiveUpMs * kMs) {
        ++droppedFrames_;
        rx_ = Rx::Idle;
    }
    lastByteAt_ = at;
    switch (rx_) {
        case Rx::Idle:
            if (byte == kStx) {
                rx_ = Rx::Command;
            }
            break;
        case Rx::Command:
            command_ = byte;
            sum_ = byte;
            rx_ = Rx::LengthHigh;
            break;
        case Rx::LengthHigh:
            length_ = std::size_t{byte} << 8;
            sum_ = static_cast<std::uint8_t>(sum_ + byte);
            rx_ = Rx::LengthLow;
            break;
        case Rx::LengthLow:
            length_ |= byte;
            sum_ = static_cast<std::uint8_t>(sum_ + byte);
            payload_.clear();
            if (length_ > kReceiveBuffer) {
                // More than the buffer holds: the loader gives up on the frame.
                ++droppedFrames_;
                rx_ = Rx::Idle;
            } else {
                rx_ = length_ == 0 ? Rx::Sum : Rx::Payload;
            }
            break;
        case Rx::Payload:
            payload_.push_back(byte);
            sum_ = static_cast<std::uint8_t>(sum_ + byte);
            if (payload_.size() == length_) {
                rx_ = Rx::Sum;
            }
            break;
        case Rx::Sum:
            if (byte == sum_) {
                rx_ = Rx::End;
            } else {
                ++droppedFrames_;
                rx_ = Rx::Idle;
            }
            break;
        case Rx::End:
            rx_ = Rx::Idle;
            if (byte == kEtx) {
                take(at);
            } else {
                ++droppedFrames_;
            }
            break;
    }
}

void ResidentLoaderModel::take(VirtualNs at) {
    Request request;
    request.at = at;
    request.command = command_;
    request.payload = payload_;
    const int number = static_cast<int>(requests_.size()) + 1;
    const bool ignored = faults_.silent || faults_.noReplyAt == number;
    if (!ignored) {
        unsigned busyMs = 0;
        request.reply = act(command_, payload_, busyMs);
        request.answered = true;
        const bool badSum = faults_.badChecksumAt == 0 || faults_.badChecksumAt == number;
        answer(at, command_, request.reply, busyMs, badSum);
    }
    requests_.push_back(std::move(request));
}

std::uint8_t ResidentLoaderModel::act(std::uint8_t command,
                                      const std::vector<std::uint8_t>& payload, unsigned& busyMs) {
    auto needs = [&](std::size_t length) { return payload.size() == length; };
    switch (command) {
        case kConnect:
            if (!needs(0)) {
                return BadLength;
            }
            connected_ = true;
            return Ok;
        case kRestart:
            if (!needs(0)) {
                return BadLength;
            }
            // The loader hands over to the firmware; a new session starts with connect.
            connected_ = false;
            ++restarts_;
            return Ok;
        default:
            break;
    }
    if (!connected_) {
        return NotConnected;
    }
    switch (command) {
        case kPrepare:
            if (!needs(0)) {
                return BadLength;
            }
            busyMs = kEraseBusyMs;
            for (std::uint32_t a = kImageAreaStart; a < kFlashSize; a += kSectorSize) {
                erase(a);
            }
            return Ok;
        case kEraseSector:
            if (!needs(4)) {
                return BadLength;
            }
            busyMs = kEraseBusyMs;
            return erase(GetBigEndian32(payload.data()));
        case kWriteAtOffset:
        case kWriteAtAddress: {
            if (!needs(4 + kWriteSize)) {
                return BadLength;
            }
            busyMs = kWriteBusyMs;
            const std::uint64_t address = std::uint64_t{GetBigEndian32(payload.data())} +
                                          (command == kWriteAtOffset ? kImageAreaStart : 0);
            if (address > kFlashSize) {
                return BadAddress;
            }
            return write(static_cast<std::uint32_t>(address), std::span(payload).subspan(4));
        }
        default:
            return UnknownCommand;
    }
}

std::uint8_t ResidentLoaderModel::erase(std::uint32_t address) {
    if (address < kImageAreaStart || address >= kFlashSize || address % kSectorSize != 0) {
        return BadAddress;
    }
    std::fill_n(flash_.begin() + address, kSectorSize, 0xFF);
    std::fill_n(erased_.begin() + address, kSectorSize, true);
    erasedSectors_.push_back(address);
    return Ok;
}

std::uint8_t ResidentLoaderModel::write(std::uint32_t address, std::span<const std::uint8_t> data) {
    if (address < kImageAreaStart || address + data.size() > kFlashSize) {
        return BadAddress;
    }
    const auto first = erased_.begin() + address;
    const auto last = first + static_cast<std::ptrdiff_t>(data.size());
    if (!std::all_of(first, last, [](bool e) { return e; })) {
        unerasedWrites_.push_back(address);
    }
    for (std::size_t i = 0; i < data.size(); ++i) {
        flash_[address + i] &= data[i];
    }
    std::fill(first, last, false);
    return Ok;
}

void ResidentLoaderModel::answer(VirtualNs at, std::uint8_t command, std::uint8_t reply,
                                 unsigned busyMs, bool badSum) {
    std::uint8_t sum = static_cast<std::uint8_t>(command + 0x00 + 0x01 + reply);
    if (badSum) {
        sum = static_cast<std::uint8_t>(sum ^ 0xFF);
    }
    const std::vector<std::uint8_t> frame = {kStx, command, 0x00, 0x01, reply, sum, kEtx};
    const unsigned delayMs = faults_.firstByteDelayMs.value_or(busyMs);
    const VirtualNs start = at + VirtualNs{delayMs} * kMs;
    if (faults_.replyGapMs) {
        transmit(start, {frame.front()});
        transmit(transmitFreeAt() + VirtualNs{*faults_.replyGapMs} * kMs,
                 std::vector<std::uint8_t>(frame.begin() + 1, frame.end()));
    } else {
        transmit(start, frame);
    }
}

}  // namespace korvel::sim
