#pragma once

#include <cstdint>

#include "serial/serial_port.h"

namespace korvel {

// A span on the port's millisecond tick that a wait must not outlast: the one
// time-out type of every procedure's reply wait. It counts the time elapsed
// since its start, so a tick that wraps mid-wait is harmless and any 32-bit
// span lasts its full length.
class Deadline {
  public:
    Deadline(SerialPort& port, std::uint32_t ms) : port_(&port), start_(port.tickMs()), span_(ms) {}

    // Starts over with ms from now (an inter-byte time-out after a byte).
    void restart(std::uint32_t ms) {
        start_ = port_->tickMs();
        span_ = ms;
    }
    // Never later than other: a per-byte wait inside an overall limit.
    void capAt(const Deadline& other) {
        if (other.remainingMs() < remainingMs()) {
            start_ = other.start_;
            span_ = other.span_;
        }
    }
    bool passed() const { return remainingMs() == 0; }
    // Milliseconds left, 0 once passed: the time-out of the next read.
    std::uint32_t remainingMs() const {
        const auto elapsed = static_cast<std::uint32_t>(port_->tickMs() - start_);
        return elapsed < span_ ? span_ - elapsed : 0;
    }

  private:
    SerialPort* port_;
    std::uint32_t start_;
    std::uint32_t span_;
};

}  // namespace korvel
