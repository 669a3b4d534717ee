#pragma once

#include <functional>

#include "serial/virtual_serial_device.h"

namespace korvel::test {

// Passes a virtual line through to its far end and lets a test act after
// each host byte has reached it (to stop a run at a chosen request, or to
// pull the adapter out).
class LineTap : public VirtualLineEnd {
  public:
    explicit LineTap(VirtualLineEnd& far) : far_(far) {}

    void hostByte(VirtualNs at, std::uint8_t byte) override {
        far_.hostByte(at, byte);
        if (afterHostByte) {
            afterHostByte(at);
        }
    }
    void hostBreak(VirtualNs at, bool on) override { far_.hostBreak(at, on); }
    void hostLineSettings(VirtualNs at, const LineSettings& s) override {
        far_.hostLineSettings(at, s);
    }
    std::optional<VirtualNs> nextBoardByte() override { return far_.nextBoardByte(); }
    void takeBoardBytes(VirtualNs now, std::vector<std::uint8_t>& out) override {
        far_.takeBoardBytes(now, out);
    }

    std::function<void(VirtualNs at)> afterHostByte;

  private:
    VirtualLineEnd& far_;
};

}  // namespace korvel::test
