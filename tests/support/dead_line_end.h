#pragma once

#include "serial/virtual_serial_device.h"

namespace korvel::test {

// A far end with nothing behind it: hears everything, never answers.
class DeadLineEnd : public VirtualLineEnd {
  public:
    void hostByte(VirtualNs, std::uint8_t) override {}
    void hostBreak(VirtualNs, bool) override {}
    void hostLineSettings(VirtualNs, const LineSettings&) override {}
    std::optional<VirtualNs> nextBoardByte() override { return std::nullopt; }
    void takeBoardBytes(VirtualNs, std::vector<std::uint8_t>&) override {}
};

}  // namespace korvel::test
