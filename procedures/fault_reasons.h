#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace korvel {

// Every way a board can end a run, whatever its procedure: what the outcome's
// reason says, from one table (fault_reasons.cpp). The fields of a row's text
// are given in its order, already formatted (see the helpers below).
enum class Fault : std::uint8_t {
    Refused,          // step, the board's answer
    NoAnswer,         // step, what to check
    Garbled,          // step, the answer (escaped)
    UnknownPart,      // part id in decimal, in hex
    VerifyMismatch,   // address, wrote, read
    CompareMismatch,  // address: the chip found the flash unlike the data written there
    StaleTransfer,    // step
    // Resident loader, PCX and boot monitor.
    OtherLoader,  // the board's loader identifier (escaped), the one expected
    NoBanner,     // what was heard meanwhile
    // LPC ISP
    BadImage,       // what is wrong with it: "line 101: wrong checksum"
    ImageTooLarge,  // highest address, flash in KB, chip
    LineErrors,     // what crossed the line, how many more tries
};

// The reason for fault with its fields in place.
std::string FaultReason(Fault fault, std::initializer_list<std::string_view> fields);

// Field formats, the same in every reason.
std::string Hex8(std::uint8_t value);    // 0x5A
std::string Hex32(std::uint32_t value);  // 0x00002A40
// Bytes from a board, quoted, every control and non-ASCII byte as \xHH.
std::string EscapedAnswer(std::span<const std::uint8_t> bytes);
std::string EscapedAnswer(std::string_view text);

}  // namespace korvel
