#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "serial/virtual_serial_device.h"

namespace korvel::sim {

// Base of every board model: the board's side of a serial line. A model
// reacts to what it hears (onByte, onBreak, onLineSettings, each at the
// moment it is complete on the wire) and answers with transmit(), which puts
// its bytes on the line one after the other at the line rate of the current
// baud. The same model runs under the virtual device (virtual time) and under
// the pty server (real time).
class BoardModel : public VirtualLineEnd {
  public:
    static constexpr VirtualNs kMs = 1'000'000;

    // Line-rate pacing of the board's transmissions; off sends them instantly.
    void setPaced(bool paced) { paced_ = paced; }
    const LineSettings& line() const { return line_; }

    // VirtualLineEnd: the host's side of the wire calls these.
    void hostByte(VirtualNs at, std::uint8_t byte) final;
    void hostBreak(VirtualNs at, bool on) final;
    void hostLineSettings(VirtualNs at, const LineSettings& settings) final;
    std::optional<VirtualNs> nextBoardByte() final;
    void takeBoardBytes(VirtualNs now, std::vector<std::uint8_t>& out) final;

  protected:
    // Lets a model act on time passing with no input (a banner after power
    // on, a reply after a flash delay). Called with ever later times before
    // each event and before output is looked at.
    virtual void advanceTo(VirtualNs now) { (void)now; }

    virtual void onByte(VirtualNs at, std::uint8_t byte) = 0;
    virtual void onBreak(VirtualNs at, bool on) { (void)at, (void)on; }
    virtual void onLineSettings(VirtualNs at, const LineSettings& settings) {
        (void)at, (void)settings;
    }

    // Queues bytes whose first character starts no earlier than `at` (and not
    // before the board's previous transmission has left).
    void transmit(VirtualNs at, const std::vector<std::uint8_t>& bytes);
    void transmitText(VirtualNs at, const std::string& text);
    // Drops everything not yet sent (a board that resets mid-reply).
    void cancelTransmission() { outgoing_.clear(); }
    // When the board's line is free again.
    VirtualNs transmitFreeAt() const { return txFreeAt_; }

  private:
    void advance(VirtualNs now);

    struct Timed {
        VirtualNs at;
        std::uint8_t byte;
    };
    std::deque<Timed> outgoing_;
    VirtualNs txFreeAt_ = 0;
    VirtualNs advancedTo_ = 0;
    LineSettings line_;
    bool paced_ = true;
};

}  // namespace korvel::sim
