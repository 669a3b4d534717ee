#include "bench/support/host_trace.h"

namespace korvel::bench {

HostTraceDevice::HostTraceDevice(std::unique_ptr<VirtualSerialDevice> line,
                                 const std::vector<WireEvent>& wire, std::vector<HostStep>& steps,
                                 VirtualNs& endNs)
    : line_(std::move(line)), wire_(wire), steps_(steps), endNs_(endNs) {}

HostTraceDevice::~HostTraceDevice() {
    endPause(false);
    endNs_ = line_->now();
}

void HostTraceDevice::endPause(bool nextIsRead) {
    if (pauseStart_) {
        HostStep step;
        step.kind = HostStep::Kind::Pause;
        step.ns = line_->now() - *pauseStart_;
        step.poll = pauseAfterRead_ && nextIsRead;
        steps_.push_back(step);
        pauseStart_.reset();
    }
}

void HostTraceDevice::scanWire() {
    for (; wireScanned_ < wire_.size(); ++wireScanned_) {
        boardSeen_ += wire_[wireScanned_].kind == WireEvent::Kind::BoardByte ? 1 : 0;
    }
}

void HostTraceDevice::emitted() {
    scanWire();
    HostStep step;
    step.kind = HostStep::Kind::Emit;
    step.wireEnd = wire_.size();
    steps_.push_back(step);
    lastWasRead_ = false;
}

bool HostTraceDevice::open(const LineSettings& settings) {
    endPause(false);
    const bool opened = line_->open(settings);
    emitted();
    return opened;
}

void HostTraceDevice::close() {
    endPause(false);
    line_->close();
    endNs_ = line_->now();
    lastWasRead_ = false;
}

void HostTraceDevice::applyLineSettings(const LineSettings& settings) {
    endPause(false);
    line_->applyLineSettings(settings);
    emitted();
}

std::size_t HostTraceDevice::read(std::uint8_t* buffer, std::size_t capacity) {
    endPause(true);
    return taken(line_->read(buffer, capacity));
}

std::size_t HostTraceDevice::readAvailable(std::uint8_t* buffer, std::size_t capacity) {
    endPause(true);
    return taken(line_->readAvailable(buffer, capacity));
}

bool HostTraceDevice::waitForInput(unsigned timeoutMs) {
    // Waiting for a board byte, as a read does: not a pause of the dialogue.
    endPause(true);
    const bool there = line_->waitForInput(timeoutMs);
    scanWire();
    lastWasRead_ = true;
    return there;
}

std::size_t HostTraceDevice::taken(std::size_t n) {
    scanWire();
    if (n > 0) {
        consumed_ += n;
        HostStep step;
        step.kind = HostStep::Kind::Consume;
        step.boardByte = consumed_ - 1;
        steps_.push_back(step);
    }
    lastWasRead_ = true;
    return n;
}

void HostTraceDevice::write(const std::uint8_t* data, std::size_t count) {
    endPause(false);
    line_->write(data, count);
    emitted();
}

void HostTraceDevice::discardInput() {
    endPause(false);
    line_->discardInput();
    scanWire();
    consumed_ = boardSeen_;
    lastWasRead_ = false;
}

void HostTraceDevice::discardOutput() {
    endPause(false);
    line_->discardOutput();
    lastWasRead_ = false;
}

void HostTraceDevice::setBreak(bool on) {
    endPause(false);
    line_->setBreak(on);
    emitted();
}

void HostTraceDevice::setModemLines(bool dtr, bool rts) {
    endPause(false);
    line_->setModemLines(dtr, rts);
    emitted();
}

void HostTraceDevice::sleepMs(unsigned ms) {
    if (!pauseStart_) {
        pauseStart_ = line_->now();
        pauseAfterRead_ = lastWasRead_;
    }
    line_->sleepMs(ms);
}

}  // namespace korvel::bench
