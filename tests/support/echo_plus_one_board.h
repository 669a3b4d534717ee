#pragma once

#include <vector>

#include "sim/board_model.h"

namespace korvel::test {

// The smallest board: answers every byte with the byte plus one and
// remembers every baud rate the host set.
struct EchoPlusOneBoard : sim::BoardModel {
    void onByte(VirtualNs at, std::uint8_t byte) override {
        transmit(at, {static_cast<std::uint8_t>(byte + 1)});
    }
    void onLineSettings(VirtualNs, const LineSettings& s) override { bauds.push_back(s.baudRate); }
    std::vector<int> bauds;
};

}  // namespace korvel::test
