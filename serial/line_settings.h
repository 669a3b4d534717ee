#pragma once

#include <cstdint>

namespace korvel {

enum class Parity { None, Odd, Even };
enum class StopBits { One, Two };

// Everything a device needs to configure the line. Data bits are always 8 and
// there is never any flow control.
struct LineSettings {
    int baudRate = 38400;
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;

    bool operator==(const LineSettings&) const = default;
};

// Decodes the procedures' line-settings byte. Parity compares the whole byte
// (0x11 is "no parity, one stop bit", not odd parity).
constexpr LineSettings DecodeLineFlags(int baudRate, std::uint8_t lineFlags) {
    LineSettings s;
    s.baudRate = baudRate;
    if (lineFlags == 0x02) {
        s.parity = Parity::Odd;
    } else if (lineFlags == 0x04) {
        s.parity = Parity::Even;
    }
    if ((lineFlags & 0x10) == 0 && (lineFlags & 0x20) != 0) {
        s.stopBits = StopBits::Two;
    }
    return s;
}

}  // namespace korvel
