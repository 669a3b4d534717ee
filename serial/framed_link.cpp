#include "serial/framed_link.h"

#include <algorithm>
#include <limits>

#include "util/byte_order.h"

namespace korvel {

namespace {
constexpr std::uint8_t kStartByte = 0x02;
constexpr std::uint8_t kEndByte = 0x03;
constexpr std::uint8_t kAddressCheckXor = 0x85;
constexpr std::size_t kHeaderSize = 7;  // start, address, check, command, length, status
// Shortest per-attempt wait PingWithin uses.
constexpr std::uint32_t kMinPingStepMs = 10;
// Longest wait for reply bytes before the abort flag is looked at again.
constexpr std::uint32_t kAbortCheckMs = 20;

bool IsLineEnd(std::uint8_t byte) {
    return byte == '\r' || byte == '\n';
}
}  // namespace

FramedLink::FramedLink(int portNumber) : SerialPort(portNumber, kBaudRate, kLineFlags) {}

FramedLink::FramedLink(std::unique_ptr<SerialDevice> device)
    : SerialPort(std::move(device), kBaudRate, kLineFlags) {}

void FramedLink::restoreDefaults() {
    replyTimeoutMs_ = kDefaultReplyTimeoutMs;
    attemptsOnTimeout_ = kDefaultAttemptsOnTimeout;
}

void FramedLink::sendRequest(std::uint8_t command, const std::uint8_t* payload,
                             std::uint16_t length) {
    txFrame_[0] = kStartByte;
    txFrame_[1] = address_;
    txFrame_[2] = static_cast<std::uint8_t>(address_ ^ kAddressCheckXor);
    txFrame_[3] = command;
    PutBigEndian16(&txFrame_[4], length);
    txFrame_[6] = 0x00;  // status: always 0 in a request
    std::uint8_t sum = 0;
    for (std::size_t i = 3; i < kHeaderSize; ++i) {
        sum = static_cast<std::uint8_t>(sum + txFrame_[i]);
    }
    for (std::uint16_t i = 0; i < length; ++i) {
        txFrame_[kHeaderSize + i] = payload[i];
        sum = static_cast<std::uint8_t>(sum + payload[i]);
    }
    txFrame_[kHeaderSize + length] = sum;
    txFrame_[kHeaderSize + length + 1] = kEndByte;
    discardOutput();
    discardInput();
    write(txFrame_.data(), static_cast<std::uint16_t>(kHeaderSize + length + 2));
}

bool FramedLink::feed(std::uint8_t byte, std::uint8_t command) {
    // A byte that does not fit its place drops the frame and is itself
    // discarded, even a start byte: the next frame must begin afresh.
    auto restart = [this] { rxState_ = RxState::Start; };
    switch (rxState_) {
        case RxState::Start:
            if (byte == kStartByte) {
                rxState_ = RxState::Address;
            }
            break;
        case RxState::Address:
            if (byte == address_) {
                rxState_ = RxState::AddressCheck;
            } else {
                restart();
            }
            break;
        case RxState::AddressCheck:
            if (byte == static_cast<std::uint8_t>(address_ ^ kAddressCheckXor)) {
                rxState_ = RxState::Command;
            } else {
                restart();
            }
            break;
        case RxState::Command:
            if (byte == command) {
                rxSum_ = byte;
                rxState_ = RxState::LengthHigh;
            } else {
                restart();
            }
            break;
        case RxState::LengthHigh:
            rxSum_ = static_cast<std::uint8_t>(rxSum_ + byte);
            rxLength_ = static_cast<std::uint16_t>(byte << 8);
            rxState_ = RxState::LengthLow;
            break;
        case RxState::LengthLow:
            rxSum_ = static_cast<std::uint8_t>(rxSum_ + byte);
            rxLength_ = static_cast<std::uint16_t>(rxLength_ | byte);
            rxState_ = RxState::Status;
            break;
        case RxState::Status:
            rxSum_ = static_cast<std::uint8_t>(rxSum_ + byte);
            rxStatus_ = byte;
            rxStored_ = 0;
            rxState_ = rxLength_ != 0 ? RxState::Payload : RxState::Checksum;
            break;
        case RxState::Payload:
            // An announced length beyond the buffer can never complete.
            if (rxStored_ >= replyPayload_.size()) {
                restart();
                break;
            }
            rxSum_ = static_cast<std::uint8_t>(rxSum_ + byte);
            replyPayload_[rxStored_++] = byte;
            if (rxStored_ == rxLength_) {
                rxState_ = RxState::Checksum;
            }
            break;
        case RxState::Checksum:
            if (byte == rxSum_) {
                rxState_ = RxState::End;
            } else {
                restart();
            }
            break;
        case RxState::End:
            if (byte == kEndByte) {
                rxState_ = RxState::Start;
                return true;
            }
            restart();
            break;
    }
    return false;
}

std::uint8_t FramedLink::receiveReply(std::uint8_t command) {
    rxState_ = RxState::Start;
    rxSum_ = 0;
    replyLength_ = 0;
    const std::uint32_t start = tickMs();
    // Elapsed time, not a deadline, so a tick that wraps mid-wait is harmless.
    for (std::uint32_t elapsed = 0; elapsed < replyTimeoutMs_;
         elapsed = static_cast<std::uint32_t>(tickMs() - start)) {
        if (linkAbort) {
            return kNoReply;
        }
        const std::uint16_t n =
            readWithin(rxChunk_.data(), static_cast<std::uint16_t>(rxChunk_.size()),
                       std::min(replyTimeoutMs_ - elapsed, kAbortCheckMs));
        for (std::uint16_t i = 0; i < n; ++i) {
            if (feed(rxChunk_[i], command)) {
                // Whatever followed the frame in this read is dropped.
                replyLength_ = rxLength_;
                return rxStatus_;
            }
        }
    }
    return kNoReply;
}

std::uint8_t FramedLink::Transact(std::uint8_t command, const std::uint8_t* payload,
                                  std::uint16_t length) {
    length = static_cast<std::uint16_t>(std::min<std::size_t>(length, kMaxPayload));
    linkAbort = false;
    std::uint16_t attempts = 0;
    std::uint8_t result = kNoReply;
    do {
        sendRequest(command, payload, length);
        result = receiveReply(command);
        ++attempts;
        if (linkAbort) {
            return kNoReply;
        }
    } while ((result == kBusy && attempts < attemptsOnBusy_) ||
             (result == kNoReply && attempts < attemptsOnTimeout_));
    return result;
}

std::uint8_t FramedLink::PingWithin(std::uint32_t totalMs, std::uint32_t stepMs) {
    const std::uint32_t step = std::max(stepMs, kMinPingStepMs);
    const std::uint32_t attempts = totalMs == 0 ? 1 : (totalMs - 1) / step + 1;
    struct Restore {
        FramedLink& link;
        std::uint32_t timeoutMs;
        std::uint16_t attempts;
        ~Restore() {
            link.replyTimeoutMs_ = timeoutMs;
            link.attemptsOnTimeout_ = attempts;
        }
    } restore{*this, replyTimeoutMs_, attemptsOnTimeout_};
    replyTimeoutMs_ = step;
    attemptsOnTimeout_ = static_cast<std::uint16_t>(
        std::min<std::uint32_t>(attempts, std::numeric_limits<std::uint16_t>::max()));
    return Ping();
}

std::uint8_t FramedLink::Command(std::uint8_t command, const std::uint8_t* payload,
                                 std::uint16_t length) {
    const std::uint8_t result = Transact(command, payload, length);
    if (result == kOk && replyLength_ != 0) {
        return kBadReply;
    }
    return result;
}

std::uint8_t FramedLink::CommandWithAddress(std::uint8_t command, std::uint32_t value) {
    PutBigEndian32(requestPayload_.data(), value);
    return Command(command, requestPayload_.data(), 4);
}

std::uint8_t FramedLink::BeginProgramming() {
    return Command(kBeginProgramming);
}

std::uint8_t FramedLink::Ping() {
    return Command(kPing);
}

std::uint8_t FramedLink::ChangeBaudRate(std::uint32_t baudRate) {
    return CommandWithAddress(kChangeBaudRate, baudRate);
}

std::uint8_t FramedLink::Erase(std::uint32_t address) {
    return CommandWithAddress(kErase, address);
}

std::uint8_t FramedLink::WriteBlock(std::uint32_t address, const std::uint8_t* data) {
    PutBigEndian32(requestPayload_.data(), address);
    std::copy_n(data, kBlockSize, requestPayload_.data() + 4);
    return Command(kWriteBlock, requestPayload_.data(),
                   static_cast<std::uint16_t>(requestPayload_.size()));
}

std::uint8_t FramedLink::LeaveLoader() {
    return Command(kLeaveLoader);
}

std::uint8_t FramedLink::Reboot() {
    return Command(kReboot);
}

std::uint8_t FramedLink::ReadInfo(LoaderInfo& info) {
    info = {};
    const std::uint8_t result = Transact(kReadInfo, nullptr, 0);
    if (result != kOk) {
        return result;
    }
    // Three lines, each ended by one CR or LF (the last may end with the
    // payload). A field keeps at most 24 characters; the byte after them is
    // skipped as if it ended the line.
    std::string* fields[] = {&info.field1, &info.field2, &info.field3};
    std::size_t pos = 0;
    const std::size_t end = replyLength_;
    for (std::string* field : fields) {
        if (pos >= end) {
            info = {};
            return kBadReply;
        }
        while (pos < end && field->size() < kMaxInfoField && !IsLineEnd(replyPayload_[pos])) {
            field->push_back(static_cast<char>(replyPayload_[pos++]));
        }
        if (pos < end) {
            ++pos;
        }
    }
    if (pos != end) {
        info = {};
        return kBadReply;
    }
    return kOk;
}

}  // namespace korvel
