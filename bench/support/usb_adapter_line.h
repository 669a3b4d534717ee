#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "serial/virtual_serial_device.h"

namespace korvel::bench {

// A USB serial adapter between the host and a board, in virtual time: what
// the board sends is held until a USB packet is full or the adapter's
// latency timer runs out, counted from the first byte held. What the host
// sends passes at once.
class UsbAdapterLine : public VirtualLineEnd {
  public:
    // The payload of one packet on the common adapters.
    static constexpr std::size_t kPacketBytes = 62;

    UsbAdapterLine(VirtualLineEnd& board, VirtualNs latencyNs)
        : board_(board), latencyNs_(latencyNs) {}

    void hostByte(VirtualNs at, std::uint8_t byte) override { board_.hostByte(at, byte); }
    void hostBreak(VirtualNs at, bool on) override { board_.hostBreak(at, on); }
    void hostLineSettings(VirtualNs at, const LineSettings& s) override {
        board_.hostLineSettings(at, s);
    }
    std::optional<VirtualNs> nextBoardByte() override;
    void takeBoardBytes(VirtualNs now, std::vector<std::uint8_t>& out) override;

  private:
    VirtualLineEnd& board_;
    VirtualNs latencyNs_;
    std::vector<std::uint8_t> held_;
    VirtualNs heldSince_ = 0;
};

}  // namespace korvel::bench
