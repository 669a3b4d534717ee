#pragma once

#include <optional>
#include <string>

namespace korvel {

class SerialPort;

// How a board's reset and boot-select pins hang on the port's modem lines.
// Many LPC boards wire DTR to RESET and RTS to the boot-select pin (P0.14);
// "asserted" is the level that holds reset or selects the boot loader, and an
// inverted line asserts it with the modem line inactive.
struct ResetLines {
    // Long enough for a reset supervisor to see the pulse.
    static constexpr unsigned kDefaultHoldMs = 100;
    // The boot loader samples boot-select and starts before it hears anything.
    static constexpr unsigned kDefaultSettleMs = 100;

    // Off: both lines stay inactive; the board is put in its boot loader by hand.
    bool driven = false;
    bool invertReset = false;
    bool invertBootSelect = false;
    unsigned holdMs = kDefaultHoldMs;
    unsigned settleMs = kDefaultSettleMs;

    bool operator==(const ResetLines&) const = default;
};

// Reads a reset-line setting: "none", or "dtr-rts" followed by any of
// ",invert-reset", ",invert-boot", ",hold=<ms>", ",settle=<ms>". On anything
// else: nullopt, with the reason in `error`.
std::optional<ResetLines> ParseResetLines(const std::string& text, std::string& error);
// The setting text that ParseResetLines reads back as lines: "none", or
// "dtr-rts" with only what differs from the defaults.
std::string FormatResetLines(const ResetLines& lines);
// The longest hold or settle time a setting may give, in milliseconds: more
// is a typing error, not a board.
inline constexpr unsigned kMaxResetLineMs = 10000;

// Holds boot-select, pulses reset, and gives the boot loader time to start.
// Nothing when the lines are not driven.
void ResetIntoBootLoader(SerialPort& port, const ResetLines& lines);
// Releases boot-select and pulses reset: the board starts its firmware.
// Nothing when the lines are not driven.
void ResetIntoFirmware(SerialPort& port, const ResetLines& lines);

}  // namespace korvel
