#include "sim/pcx_board.h"

#include <algorithm>

#include "util/byte_order.h"

namespace korvel::sim {

namespace {
constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint8_t kAddressXor = 0x85;
// The loader's receive buffer: a block write and a little more.
constexpr std::uint16_t kMaxRequestPayload = 1100;
// A pause this long inside a frame makes the loader start over.
constexpr VirtualNs kFrameGapNs = 100 * BoardModel::kMs;
constexpr VirtualNs kAnswerDelayNs = BoardModel::kMs / 2;
constexpr VirtualNs kSectorEraseNs = 10 * BoardModel::kMs;
constexpr VirtualNs kBlockWriteNs = 2 * BoardModel::kMs;
// After a restart the loader needs a moment before it listens again.
constexpr VirtualNs kRestartNs = 50 * BoardModel::kMs;

// Command codes the loader knows.
constexpr std::uint8_t kBeginProgramming = 0x0A;
constexpr std::uint8_t kPing = 0x10;
constexpr std::uint8_t kReadInfo = 0x11;
constexpr std::uint8_t kChangeBaudRate = 0x18;
constexpr std::uint8_t kErase = 0x20;
constexpr std::uint8_t kWriteBlock = 0x21;
constexpr std::uint8_t kLeaveLoader = 0x22;
constexpr std::uint8_t kReboot = 0x63;

constexpr std::uint32_t kBlockSize = 1024;
// Sectors 8 to 26: 14 of 32 KB from 32 KB on, then 5 of 4 KB from 480 KB on.
constexpr std::uint32_t kProgramStart = 0x8000;
constexpr std::uint32_t kProgramEnd = 0x7D000;
constexpr std::uint32_t kBigSectorsEnd = 0x78000;
constexpr std::uint32_t kBigSector = 0x8000;
constexpr std::uint32_t kSmallSector = 0x1000;
// Contents before any programming: loader, an old firmware, the unit's data.
constexpr std::uint8_t kLoaderFill = 0xB1;
constexpr std::uint8_t kOldFirmwareFill = 0x5A;
constexpr std::uint8_t kUnitDataFill = 0xD7;

constexpr int kBaudRates[] = {9600, 19200, 38400, 57600, 115200};

// The erasable sector starting at `address`, as its size; 0 when none does.
std::uint32_t ProgrammableSectorAt(std::uint32_t address) {
    if (address >= kProgramStart && address < kBigSectorsEnd) {
        return address % kBigSector == 0 ? kBigSector : 0;
    }
    if (address >= kBigSectorsEnd && address < kProgramEnd) {
        return address % kSmallSector == 0 ? kSmallSector : 0;
    }
    return 0;
}
}  // namespace

PcxBoard::PcxBoard(PcxBoardFaults faults, std::string version)
    : faults_(std::move(faults)), version_(std::move(version)), flash_(kFlashSize) {
    std::fill(flash_.begin(), flash_.begin() + kProgramStart, kLoaderFill);
    std::fill(flash_.begin() + kProgramStart, flash_.begin() + kProgramEnd, kOldFirmwareFill);
    std::fill(flash_.begin() + kProgramEnd, flash_.end(), kUnitDataFill);
    rxPayload_.reserve(kMaxRequestPayload);
}

int PcxBoard::count(std::uint8_t command) const {
    return static_cast<int>(std::count_if(requests_.begin(), requests_.end(),
                                          [&](const Request& r) { return r.command == command; }));
}

std::vector<std::uint32_t> PcxBoard::arguments(std::uint8_t command) const {
    std::vector<std::uint32_t> out;
    for (const Request& r : requests_) {
        if (r.command == command) {
            out.push_back(r.argument);
        }
    }
    return out;
}

void PcxBoard::catchUp(VirtualNs at) {
    if (pendingBaud_ && at >= pendingBaud_->first) {
        unitBaud_ = pendingBaud_->second;
        pendingBaud_.reset();
    }
}

void PcxBoard::onLineSettings(VirtualNs at, const LineSettings&) {
    catchUp(at);
    // Whatever was half received at the old rate is noise now.
    resync();
}

void PcxBoard::onByte(VirtualNs at, std::uint8_t byte) {
    catchUp(at);
    if (at < deafUntil_) {
        return;
    }
    if (line().baudRate != unitBaud_) {
        // Characters at another rate arrive as framing errors.
        resync();
        return;
    }
    if (rx_ != Rx::Start && at - lastByteAt_ > kFrameGapNs) {
        resync();
    }
    lastByteAt_ = at;
    switch (rx_) {
        case Rx::Start:
            if (byte == kStx) {
                rx_ = Rx::Address;
            }
            break;
        case Rx::Address:
            rxAddress_ = byte;
            rx_ = Rx::AddressCheck;
            break;
        case Rx::AddressCheck:
            if (byte == static_cast<std::uint8_t>(rxAddress_ ^ kAddressXor)) {
                rx_ = Rx::Command;
            } else {
                resync();
            }
            break;
        case Rx::Command:
            rxCommand_ = byte;
            rxSum_ = byte;
            rx_ = Rx::LengthHigh;
            break;
        case Rx::LengthHigh:
            rxLength_ = static_cast<std::uint16_t>(byte << 8);
            rxSum_ = static_cast<std::uint8_t>(rxSum_ + byte);
            rx_ = Rx::LengthLow;
            break;
        case Rx::LengthLow:
            rxLength_ = static_cast<std::uint16_t>(rxLength_ | byte);
            rxSum_ = static_cast<std::uint8_t>(rxSum_ + byte);
            rx_ = rxLength_ <= kMaxRequestPayload ? Rx::Status : Rx::Start;
            break;
        case Rx::Status:
            rxSum_ = static_cast<std::uint8_t>(rxSum_ + byte);
            rxPayload_.clear();
            rx_ = rxLength_ != 0 ? Rx::Payload : Rx::Checksum;
            break;
        case Rx::Payload:
            rxSum_ = static_cast<std::uint8_t>(rxSum_ + byte);
            rxPayload_.push_back(byte);
            if (rxPayload_.size() == rxLength_) {
                rx_ = Rx::Checksum;
            }
            break;
        case Rx::Checksum:
            if (byte == rxSum_) {
                rx_ = Rx::End;
            } else {
                resync();
            }
            break;
        case Rx::End:
            resync();
            // Frames for other units on the line are none of this one's business.
            if (byte == kEtx && rxAddress_ == kAddress) {
                handleFrame(at);
            }
            break;
    }
}

void PcxBoard::handleFrame(VirtualNs at) {
    Request request{rxCommand_, 0, kOk, false, line().baudRate};
    if (rxPayload_.size() >= 4) {
        request.argument = GetBigEndian32(rxPayload_.data());
    }
    const bool ignoredPing = rxCommand_ == kPing && pingsHeard_++ < faults_.ignoredPings;
    if (inApplication_ || faults_.silent || ignoredPing) {
        requests_.push_back(request);
        return;
    }
    if (faults_.busyOnce && !busyAnswered_) {
        busyAnswered_ = true;
        request.status = kBusy;
        request.answered = true;
        requests_.push_back(request);
        answer(at + kAnswerDelayNs, rxCommand_, kBusy, {});
        return;
    }
    std::vector<std::uint8_t> payload;
    VirtualNs busyNs = kAnswerDelayNs;
    request.status = execute(rxCommand_, request.argument, payload, busyNs);
    if (rxCommand_ == kReboot && request.status == kOk && faults_.noRebootReply) {
        requests_.push_back(request);
        restart(at);
        return;
    }
    request.answered = true;
    requests_.push_back(request);
    answer(at + busyNs, rxCommand_, request.status, payload);
    if (request.status != kOk) {
        return;
    }
    if (rxCommand_ == kChangeBaudRate) {
        // The answer still goes out at the old rate; then the line switches.
        pendingBaud_ = {transmitFreeAt(), static_cast<int>(request.argument)};
    } else if (rxCommand_ == kReboot) {
        restart(transmitFreeAt());
    } else if (rxCommand_ == kLeaveLoader) {
        inApplication_ = true;
    }
}

std::uint8_t PcxBoard::execute(std::uint8_t command, std::uint32_t argument,
                               std::vector<std::uint8_t>& replyPayload, VirtualNs& busyNs) {
    const std::size_t length = rxPayload_.size();
    switch (command) {
        case kPing:
        case kLeaveLoader:
        case kReboot:
            return length == 0 ? kOk : kBadLength;
        case kBeginProgramming:
            if (length != 0) {
                return kBadLength;
            }
            programming_ = true;
            return kOk;
        case kReadInfo: {
            if (length != 0) {
                return kBadLength;
            }
            const std::string text = "PCX\r" + version_ + "\r" + faults_.loaderId;
            replyPayload.assign(text.begin(), text.end());
            return kOk;
        }
        case kChangeBaudRate:
            if (length != 4) {
                return kBadLength;
            }
            return std::find(std::begin(kBaudRates), std::end(kBaudRates),
                             static_cast<int>(argument)) != std::end(kBaudRates)
                       ? kOk
                       : kBadBaudRate;
        case kErase:
            if (length != 4) {
                return kBadLength;
            }
            return programming_ ? erase(argument, busyNs) : kNotProgramming;
        case kWriteBlock:
            if (length != 4 + kBlockSize) {
                return kBadLength;
            }
            return programming_ ? writeBlock(argument, busyNs) : kNotProgramming;
        default:
            return kUnknownCommand;
    }
}

std::uint8_t PcxBoard::erase(std::uint32_t address, VirtualNs& busyNs) {
    if (address == 0) {
        // The whole programmable range.
        if (faults_.refuseEraseAll) {
            return kRefused;
        }
        for (std::uint32_t a = kProgramStart; a < kProgramEnd; a += ProgrammableSectorAt(a)) {
            busyNs += kSectorEraseNs;
        }
        std::fill(flash_.begin() + kProgramStart, flash_.begin() + kProgramEnd, 0xFF);
        return kOk;
    }
    const std::uint32_t size = ProgrammableSectorAt(address);
    if (size == 0) {
        return kBadAddress;
    }
    busyNs += kSectorEraseNs;
    std::fill_n(flash_.begin() + address, size, 0xFF);
    return kOk;
}

std::uint8_t PcxBoard::writeBlock(std::uint32_t address, VirtualNs& busyNs) {
    if (address % kBlockSize != 0 || address < kProgramStart ||
        address > kProgramEnd - kBlockSize) {
        return kBadAddress;
    }
    if (faults_.refuseWriteAt == address) {
        return kRefused;
    }
    const auto target = flash_.begin() + address;
    if (!std::all_of(target, target + kBlockSize, [](std::uint8_t b) { return b == 0xFF; })) {
        return kNotErased;
    }
    std::copy(rxPayload_.begin() + 4, rxPayload_.end(), target);
    busyNs += kBlockWriteNs;
    return kOk;
}

void PcxBoard::answer(VirtualNs at, std::uint8_t command, std::uint8_t status,
                      const std::vector<std::uint8_t>& payload) {
    const std::size_t n = payload.size();
    std::vector<std::uint8_t> frame(n + 9);
    frame[0] = kStx;
    frame[1] = kAddress;
    frame[2] = static_cast<std::uint8_t>(kAddress ^ kAddressXor);
    frame[3] = command;
    PutBigEndian16(&frame[4], static_cast<std::uint16_t>(n));
    frame[6] = status;
    std::copy(payload.begin(), payload.end(), frame.begin() + 7);
    std::uint8_t sum = 0;
    for (std::size_t i = 3; i < n + 7; ++i) {
        sum = static_cast<std::uint8_t>(sum + frame[i]);
    }
    frame[n + 7] = sum;
    frame[n + 8] = kEtx;
    transmit(at, frame);
}

void PcxBoard::restart(VirtualNs at) {
    programming_ = false;
    pendingBaud_ = {at, kStartBaudRate};
    deafUntil_ = at + kRestartNs;
    resync();
}

}  // namespace korvel::sim
