#include "procedures/controller_unit/framed_link.h"

#include <algorithm>
#include <limits>

#include "serial/deadline.h"
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

FramedLink::FramedLink(int portNumber) : port_(portNumber, kBaudRate, kLineFlags) {}

FramedLink::FramedLink(std::unique_ptr<SerialDevice> device)
    : port_(std::move(device), kBaudRate, kLineFlags) {}

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
    port_.discardOutput();
    port_.discardInput();
    port_.write(txFrame_.data(), static_cast<std::uint16_t>(kHeaderSize + length + 2));
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

LinkResult FramedLink::receiveReply(std::uint8_t command) {
    rxState_ = RxState::Start;
    rxSum_ = 0;
    replyLength_ = 0;
    const Deadline reply(port_, replyTimeoutMs_);
    while (!reply.passed()) {
        if (linkAbort_) {
            return {LinkOutcome::Aborted, 0};
        }
        const std::uint16_t n =
            port_.readWithin(rxChunk_.data(), static_cast<std::uint16_t>(rxChunk_.size()),
                             std::min(reply.remainingMs(), kAbortCheckMs));
        for (std::uint16_t i = 0; i < n; ++i) {
            if (feed(rxChunk_[i], command)) {
                // Whatever followed the frame in this read is dropped.
                replyLength_ = rxLength_;
                return {rxStatus_ == 0 ? LinkOutcome::Ok : LinkOutcome::Refused, rxStatus_};
            }
        }
    }
    return {LinkOutcome::NoReply, 0};
}

LinkResult FramedLink::Transact(std::uint8_t command, const std::uint8_t* payload,
                                std::uint16_t length) {
    length = static_cast<std::uint16_t>(std::min<std::size_t>(length, kMaxPayload));
    linkAbort_ = false;
    std::uint16_t attempts = 0;
    LinkResult result;
    auto busy = [&result] {
        return result.outcome == LinkOutcome::Refused && result.status == kBusy;
    };
    do {
        sendRequest(command, payload, length);
        result = receiveReply(command);
        ++attempts;
        if (linkAbort_) {
            return {LinkOutcome::Aborted, 0};
        }
    } while ((busy() && attempts < attemptsOnBusy_) ||
             (result.outcome == LinkOutcome::NoReply && attempts < attemptsOnTimeout_));
    return result;
}

LinkResult FramedLink::PingWithin(std::uint32_t totalMs, std::uint32_t stepMs) {
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

LinkResult FramedLink::Command(std::uint8_t command, const std::uint8_t* payload,
                               std::uint16_t length) {
    const LinkResult result = Transact(command, payload, length);
    if (result.ok() && replyLength_ != 0) {
        return {LinkOutcome::BadReply, 0};
    }
    return result;
}

LinkResult FramedLink::CommandWithAddress(std::uint8_t command, std::uint32_t value) {
    PutBigEndian32(requestPayload_.data(), value);
    return Command(command, requestPayload_.data(), 4);
}

LinkResult FramedLink::BeginProgramming() {
    return Command(kBeginProgramming);
}

LinkResult FramedLink::Ping() {
    return Command(kPing);
}

LinkResult FramedLink::ChangeBaudRate(std::uint32_t baudRate) {
    return CommandWithAddress(kChangeBaudRate, baudRate);
}

LinkResult FramedLink::Erase(std::uint32_t address) {
    return CommandWithAddress(kErase, address);
}

LinkResult FramedLink::WriteBlock(std::uint32_t address, const std::uint8_t* data) {
    PutBigEndian32(requestPayload_.data(), address);
    std::copy_n(data, kBlockSize, requestPayload_.data() + 4);
    return Command(kWriteBlock, requestPayload_.data(),
                   static_cast<std::uint16_t>(requestPayload_.size()));
}

LinkResult FramedLink::LeaveLoader() {
    return Command(kLeaveLoader);
}

LinkResult FramedLink::Reboot() {
    return Command(kReboot);
}

LinkResult FramedLink::ReadInfo(LoaderInfo& info) {
    info = {};
    const LinkResult result = Transact(kReadInfo, nullptr, 0);
    if (!result.ok()) {
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
            return {LinkOutcome::BadReply, 0};
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
        return {LinkOutcome::BadReply, 0};
    }
    return result;
}

}  // namespace korvel
