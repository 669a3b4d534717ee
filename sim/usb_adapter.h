#pragma once

#include <cstddef>
#include <deque>

#include "serial/virtual_serial_device.h"

namespace korvel::sim {

// A USB serial adapter between the host and a board. What the host sends
// passes straight through; what the board sends is held in the adapter until
// it fills one USB packet or the adapter's latency timer runs out, and then
// reaches the host all at once. A dialogue that waits for each short answer
// pays the latency on every one.
class UsbAdapterModel : public VirtualLineEnd {
  public:
    // Payload of one USB packet from the common FTDI chips (64 bytes less
    // two status bytes).
    static constexpr std::size_t kPacketBytes = 62;

    // latency: from the first held byte to the moment the adapter sends what
    // it holds; 0 passes every byte on at once.
    UsbAdapterModel(VirtualLineEnd& board, VirtualNs latency);

    void hostByte(VirtualNs at, std::uint8_t byte) override;
    void hostBreak(VirtualNs at, bool on) override;
    void hostLineSettings(VirtualNs at, const LineSettings& settings) override;
    // The next moment anything can change for the host: a board byte reaching
    // the adapter or the latency timer running out. A lower bound of the next
    // delivery: the host may find nothing new then.
    std::optional<VirtualNs> nextBoardByte() override;
    void takeBoardBytes(VirtualNs now, std::vector<std::uint8_t>& out) override;

  private:
    struct Held {
        VirtualNs at;
        std::uint8_t byte;
    };
    // Moves the board's bytes that reached the adapter at `at` into the hold.
    std::size_t receive(VirtualNs at, std::vector<std::uint8_t>& out);
    // Hands over what the adapter holds, one packet at most.
    void send(std::vector<std::uint8_t>& out);
    std::optional<VirtualNs> timerEnds() const;

    VirtualLineEnd& board_;
    VirtualNs latency_;
    std::deque<Held> held_;
    std::vector<std::uint8_t> scratch_;
};

}  // namespace korvel::sim
