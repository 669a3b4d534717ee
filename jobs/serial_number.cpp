#include "jobs/serial_number.h"

#include <charconv>
#include <cstdio>

#include "util/decimal.h"

namespace korvel {

namespace {

std::optional<std::uint32_t> ParseAddress(const std::string& text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        std::uint32_t value = 0;
        const char* first = text.data() + 2;
        const char* last = text.data() + text.size();
        const auto [end, ec] = std::from_chars(first, last, value, 16);
        if (ec != std::errc() || end != last) {
            return std::nullopt;
        }
        return value;
    }
    return ParseDecimal<std::uint32_t>(text);
}

}  // namespace

std::optional<SerialPlace> ParseSerialPlace(const std::string& text, std::string& error) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) {
        error = "'" + text + "' is not AT:FORMAT (for example 0x1F00:u32le)";
        return std::nullopt;
    }
    SerialPlace place;
    const auto at = ParseAddress(text.substr(0, colon));
    if (!at) {
        error = "'" + text.substr(0, colon) +
                "' is not an address (decimal, or hex after 0x, below 4 GiB)";
        return std::nullopt;
    }
    place.at = *at;
    const std::string format = text.substr(colon + 1);
    if (format == "u32le" || format == "u32be") {
        place.format = format == "u32le" ? SerialFormat::U32Le : SerialFormat::U32Be;
        place.width = 4;
        return place;
    }
    if (format.starts_with("ascii:")) {
        const auto width = ParseDecimalAtMost<int>(format.substr(6), kMaxSerialDigits);
        if (width && *width > 0) {
            place.format = SerialFormat::Ascii;
            place.width = *width;
            return place;
        }
    }
    error = "'" + format + "' is not a format: u32le, u32be or ascii:N (N digits, 1 to " +
            std::to_string(kMaxSerialDigits) + ")";
    return std::nullopt;
}

std::string SerialPlaceText(const SerialPlace& place) {
    char at[16];
    std::snprintf(at, sizeof at, "0x%08X", static_cast<unsigned>(place.at));
    switch (place.format) {
        case SerialFormat::U32Le:
            return std::string(at) + ":u32le";
        case SerialFormat::U32Be:
            return std::string(at) + ":u32be";
        case SerialFormat::Ascii:
            break;
    }
    return std::string(at) + ":ascii:" + std::to_string(place.width);
}

std::uint64_t MaxSerialNumber(const SerialPlace& place) {
    if (place.format != SerialFormat::Ascii) {
        return UINT32_MAX;
    }
    std::uint64_t max = 0;
    for (int i = 0; i < place.width && i < 19; ++i) {
        max = max * 10 + 9;
    }
    // Twenty digits hold every 64-bit number.
    return place.width >= kMaxSerialDigits ? UINT64_MAX : max;
}

std::vector<std::uint8_t> SerialBytes(const SerialPlace& place, std::uint64_t number) {
    if (number > MaxSerialNumber(place)) {
        return {};
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(place.width));
    switch (place.format) {
        case SerialFormat::U32Le:
            for (std::size_t i = 0; i < 4; ++i) {
                bytes[i] = static_cast<std::uint8_t>(number >> (8 * i));
            }
            break;
        case SerialFormat::U32Be:
            for (std::size_t i = 0; i < 4; ++i) {
                bytes[3 - i] = static_cast<std::uint8_t>(number >> (8 * i));
            }
            break;
        case SerialFormat::Ascii:
            for (auto it = bytes.rbegin(); it != bytes.rend(); ++it) {
                *it = static_cast<std::uint8_t>('0' + number % 10);
                number /= 10;
            }
            break;
    }
    return bytes;
}

}  // namespace korvel
