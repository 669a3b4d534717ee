#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvel {

// How a board's serial number is written into its image.
enum class SerialFormat : std::uint8_t {
    U32Le,  // four bytes, least significant first
    U32Be,  // four bytes, most significant first
    Ascii,  // decimal digits, zero-padded to `width`
};

// Where and how: a flash address (LPC boards) or an offset into the image
// (the other kinds), and the format. Given as AT:FORMAT, AT decimal or
// 0x-hex: "0x1F00:u32le", "4096:ascii:8".
struct SerialPlace {
    std::uint32_t at = 0;
    SerialFormat format = SerialFormat::U32Le;
    int width = 4;  // bytes written; the digit count for Ascii

    bool operator==(const SerialPlace&) const = default;
};

// The widest ascii:N, as many digits as a 64-bit number has.
inline constexpr int kMaxSerialDigits = 20;

// The place AT:FORMAT names; nullopt, with what is wrong in `error`, when
// it names none.
std::optional<SerialPlace> ParseSerialPlace(const std::string& text, std::string& error);

// The place as it is given: "0x00001F00:u32le".
std::string SerialPlaceText(const SerialPlace& place);

// The largest number the format holds.
std::uint64_t MaxSerialNumber(const SerialPlace& place);

// The bytes that carry `number`; empty when the format cannot hold it.
std::vector<std::uint8_t> SerialBytes(const SerialPlace& place, std::uint64_t number);

// Where the numbers of a run come from: a counter file, or each board's id
// (which must then be a decimal number).
struct SerialChoice {
    SerialPlace place;
    // The file holding the next number; empty: the number is the board id.
    std::string counterFile;
};

}  // namespace korvel
