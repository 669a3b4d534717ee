#include "procedures/fault_reasons.h"

#include <array>
#include <cstdio>

namespace korvel {

namespace {

struct FaultRow {
    Fault fault;
    // {0}, {1}... stand for the fields in order.
    const char* text;
};

// One row per fault; tests hold that every Fault has its row.
constexpr auto kFaultRows = std::to_array<FaultRow>({
    {Fault::Refused, "The board refused to {0}: {1}"},
    {Fault::NoAnswer, "No answer to {0}: {1}"},
    {Fault::Garbled, "Unexpected answer to {0}: {1}"},
    {Fault::UnknownPart, "Unknown part id {0} ({1})"},
    {Fault::VerifyMismatch, "Verify failed at {0}: wrote {1}, read {2}"},
    {Fault::CompareMismatch,
     "Verify failed at {0}: the flash there differs from what was written: program the board "
     "again, and set it aside if it fails again"},
    {Fault::StaleTransfer,
     "The board answered {0} with the rest of an earlier, stopped transfer: reset the board "
     "and try again"},
    // Resident loader, PCX and boot monitor.
    {Fault::OtherLoader,
     "The board's boot loader is {0}, not {1}: this package cannot be programmed through it"},
    {Fault::NoBanner,
     "No boot monitor banner within 10 s ({0}): switch the board off, press Program, then "
     "switch it on"},
    // LPC ISP
    {Fault::BadImage, "The package's firmware image cannot be programmed: {0}"},
    {Fault::ImageTooLarge,
     "The firmware image does not fit the board: its highest address {0} lies past the {1} KB "
     "flash of the {2}"},
    {Fault::LineErrors,
     "Line errors in {0}, also after {1} more tries: check the cable or choose a lower baud "
     "rate"},
});

}  // namespace

std::string FaultReason(Fault fault, std::initializer_list<std::string_view> fields) {
    const char* text = "The run failed";
    for (const FaultRow& row : kFaultRows) {
        if (row.fault == fault) {
            text = row.text;
        }
    }
    std::string reason;
    for (const char* at = text; *at != '\0'; ++at) {
        if (at[0] == '{' && at[1] >= '0' && at[1] <= '9' && at[2] == '}') {
            const auto index = static_cast<std::size_t>(at[1] - '0');
            if (index < fields.size()) {
                reason += *(fields.begin() + index);
            }
            at += 2;
        } else {
            reason += *at;
        }
    }
    return reason;
}

std::string Hex8(std::uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

std::string Hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string EscapedAnswer(std::span<const std::uint8_t> bytes) {
    std::string text = "\"";
    for (const std::uint8_t byte : bytes) {
        if (byte < 0x20 || byte >= 0x7F || byte == '"' || byte == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            text += escaped;
        } else {
            text += static_cast<char>(byte);
        }
    }
    return text + "\"";
}

std::string EscapedAnswer(std::string_view text) {
    return EscapedAnswer(
        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

}  // namespace korvel
