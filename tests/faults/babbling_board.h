#pragma once

#include <string>

#include "serial/virtual_serial_device.h"

namespace korvel::test {

// A board that hears nothing and talks without end: its application runs and
// prints the same line at the line rate, again and again, as a board left out
// of its loader does.
class BabblingBoard : public VirtualLineEnd {
  public:
    explicit BabblingBoard(std::string line = "app: status ok\r\n", int baudRate = 57600)
        : line_(std::move(line)), charNs_(CharacterTimeNs(LineSettings{baudRate})) {}

    void hostByte(VirtualNs, std::uint8_t) override {}
    void hostBreak(VirtualNs, bool) override {}
    void hostLineSettings(VirtualNs, const LineSettings&) override {}
    std::optional<VirtualNs> nextBoardByte() override { return (sent_ + 1) * charNs_; }
    void takeBoardBytes(VirtualNs now, std::vector<std::uint8_t>& out) override {
        while ((sent_ + 1) * charNs_ <= now) {
            out.push_back(static_cast<std::uint8_t>(line_[sent_ % line_.size()]));
            ++sent_;
        }
    }

  private:
    std::string line_;
    VirtualNs charNs_;
    VirtualNs sent_ = 0;
};

}  // namespace korvel::test
