#pragma once

#include <cstdint>

#include "serial/serial_port.h"

namespace korvel {

// A point on the port's millisecond tick that a wait must not pass: the one
// time-out type of every procedure's reply wait. Safe across the tick's wrap.
class Deadline {
  public:
    Deadline(SerialPort& port, std::uint32_t ms) : port_(&port), end_(port.tickMs() + ms) {}

    // Moves the deadline to ms from now (an inter-byte time-out after a byte).
    void restart(std::uint32_t ms) { end_ = port_->tickMs() + ms; }
    // Never later than other: a per-byte wait inside an overall limit.
    void capAt(const Deadline& other) {
        if (static_cast<std::int32_t>(end_ - other.end_) > 0) {
            end_ = other.end_;
        }
    }
    bool passed() const { return port_->msUntil(end_) == 0; }
    // Milliseconds left, 0 once passed: the time-out of the next read.
    unsigned remainingMs() const { return port_->msUntil(end_); }

  private:
    SerialPort* port_;
    std::uint32_t end_;
};

}  // namespace korvel
