#include "serial/virtual_serial_device.h"

#include <algorithm>
#include <cstring>

#include "serial/serial_error.h"

namespace korvel {

namespace {
constexpr VirtualNs kNsPerMs = 1'000'000;
// A read with nothing to return waits this long, like the real device's
// 1 ms read time-out.
constexpr VirtualNs kReadTimeoutNs = kNsPerMs;
}  // namespace

VirtualNs CharacterTimeNs(const LineSettings& settings) {
    const VirtualNs bits = 1 + 8 + (settings.parity == Parity::None ? 0 : 1) +
                           (settings.stopBits == StopBits::Two ? 2 : 1);
    const VirtualNs baud = settings.baudRate > 0 ? static_cast<VirtualNs>(settings.baudRate) : 1;
    return bits * 1'000'000'000ULL / baud;
}

VirtualSerialDevice::VirtualSerialDevice(VirtualLineEnd& end, Options options)
    : end_(end), options_(std::move(options)) {}

VirtualSerialDevice::VirtualSerialDevice(VirtualLineEnd& end)
    : VirtualSerialDevice(end, Options{}) {}

bool VirtualSerialDevice::open(const LineSettings& settings) {
    if (options_.openFailure) {
        openFailure_ = *options_.openFailure;
        return false;
    }
    open_ = true;
    applyLineSettings(settings);
    setModemLines(false, false);
    return true;
}

void VirtualSerialDevice::close() {
    open_ = false;
}

void VirtualSerialDevice::checkFailure(const char* operation) const {
    if (failure_) {
        throw SerialError(operation, *failure_, std::strerror(*failure_));
    }
}

void VirtualSerialDevice::log(WireEvent::Kind kind, VirtualNs at, std::uint8_t byte) {
    if (options_.wireLog != nullptr) {
        options_.wireLog->push_back({at, kind, byte, settings_.baudRate});
    }
}

void VirtualSerialDevice::applyLineSettings(const LineSettings& settings) {
    checkFailure("set line settings");
    settings_ = settings;
    const VirtualNs at = std::max(now_, txFreeAt_);
    end_.hostLineSettings(at, settings_);
    log(WireEvent::Kind::LineSettings, at);
}

std::size_t VirtualSerialDevice::takeUpTo(VirtualNs at) {
    const std::size_t before = received_.size();
    end_.takeBoardBytes(at, received_);
    if (options_.wireLog != nullptr) {
        for (std::size_t i = before; i < received_.size(); ++i) {
            log(WireEvent::Kind::BoardByte, at, received_[i]);
        }
    }
    return received_.size() - before;
}

void VirtualSerialDevice::collect() {
    // Byte by byte, so the log holds the moment each one was complete on the
    // wire, not the later moment the host looked for it.
    for (auto next = end_.nextBoardByte(); next && *next <= now_; next = end_.nextBoardByte()) {
        if (takeUpTo(*next) == 0) {
            break;
        }
    }
    // Lets the far end catch up with the clock (output that only time passing makes).
    takeUpTo(now_);
}

std::size_t VirtualSerialDevice::read(std::uint8_t* buffer, std::size_t capacity) {
    checkFailure("read");
    collect();
    if (receivedHead_ == received_.size()) {
        // Nothing there: wait up to the read time-out for the first byte.
        const VirtualNs limit = now_ + kReadTimeoutNs;
        const auto next = end_.nextBoardByte();
        now_ = next && *next > now_ && *next < limit ? *next : limit;
        collect();
    }
    return deliver(buffer, capacity);
}

std::size_t VirtualSerialDevice::readAvailable(std::uint8_t* buffer, std::size_t capacity) {
    checkFailure("read");
    collect();
    return deliver(buffer, capacity);
}

bool VirtualSerialDevice::waitForInput(unsigned timeoutMs) {
    checkFailure("read");
    collect();
    const VirtualNs limit = now_ + static_cast<VirtualNs>(timeoutMs) * kNsPerMs;
    while (!hasInput() && now_ < limit) {
        // Steps no longer than a read's time-out: a model that speaks as
        // time passes (a countdown) is heard when it speaks, not at the limit.
        const VirtualNs step = std::min(limit, now_ + kReadTimeoutNs);
        const auto next = end_.nextBoardByte();
        now_ = next && *next > now_ && *next < step ? *next : step;
        collect();
    }
    return hasInput();
}

std::size_t VirtualSerialDevice::deliver(std::uint8_t* buffer, std::size_t capacity) {
    const std::size_t n = std::min(capacity, received_.size() - receivedHead_);
    if (n > 0) {
        std::memcpy(buffer, received_.data() + receivedHead_, n);
    }
    receivedHead_ += n;
    if (receivedHead_ == received_.size()) {
        received_.clear();
        receivedHead_ = 0;
    }
    return n;
}

void VirtualSerialDevice::write(const std::uint8_t* data, std::size_t count) {
    checkFailure("write");
    const VirtualNs charNs = options_.paced ? CharacterTimeNs(settings_) : 0;
    VirtualNs at = std::max(now_, txFreeAt_);
    for (std::size_t i = 0; i < count; ++i) {
        at += charNs;
        end_.hostByte(at, data[i]);
        log(WireEvent::Kind::HostByte, at, data[i]);
    }
    // The driver's buffer takes the bytes at once; the line drains them later.
    txFreeAt_ = at;
}

void VirtualSerialDevice::discardInput() {
    checkFailure("discard input");
    collect();
    received_.clear();
    receivedHead_ = 0;
}

void VirtualSerialDevice::discardOutput() {
    // Output already handed to the line end stays sent: the model has seen it.
    checkFailure("discard output");
}

void VirtualSerialDevice::setBreak(bool on) {
    checkFailure(on ? "set break" : "clear break");
    const VirtualNs at = std::max(now_, txFreeAt_);
    end_.hostBreak(at, on);
    log(on ? WireEvent::Kind::BreakOn : WireEvent::Kind::BreakOff, at);
}

void VirtualSerialDevice::setModemLines(bool dtr, bool rts) {
    checkFailure("set DTR and RTS");
    // Only changes are logged: the log is the sequence a board's reset circuit sees.
    if (dtr != dtr_) {
        log(dtr ? WireEvent::Kind::DtrOn : WireEvent::Kind::DtrOff, now_);
    }
    if (rts != rts_) {
        log(rts ? WireEvent::Kind::RtsOn : WireEvent::Kind::RtsOff, now_);
    }
    dtr_ = dtr;
    rts_ = rts;
}

std::uint32_t VirtualSerialDevice::tickMs() {
    return static_cast<std::uint32_t>(options_.startTickMs + now_ / kNsPerMs);
}

void VirtualSerialDevice::sleepMs(unsigned ms) {
    now_ += ms * kNsPerMs;
}

}  // namespace korvel
