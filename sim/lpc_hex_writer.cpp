#include "sim/lpc_hex_writer.h"

#include <algorithm>
#include <cstdio>

namespace korvel::sim {

namespace {

std::string Record(std::uint32_t type, std::uint32_t address, const std::uint8_t* data,
                   std::size_t count) {
    char field[16];
    std::snprintf(field, sizeof field, ":%02X%04X%02X", static_cast<unsigned>(count),
                  static_cast<unsigned>(address & 0xFFFF), static_cast<unsigned>(type));
    std::string line = field;
    std::uint32_t sum =
        static_cast<std::uint32_t>(count) + (address >> 8 & 0xFF) + (address & 0xFF) + type;
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(field, sizeof field, "%02X", data[i]);
        line += field;
        sum += data[i];
    }
    std::snprintf(field, sizeof field, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + field;
}

}  // namespace

std::string WriteIntelHex(const std::vector<HexSegment>& segments, int recordBytes) {
    const std::size_t perRecord = static_cast<std::size_t>(std::clamp(recordBytes, 1, 255));
    std::string text;
    std::uint32_t upper = 0;
    for (const HexSegment& segment : segments) {
        std::size_t i = 0;
        while (i < segment.bytes.size()) {
            const std::uint32_t address = segment.address + static_cast<std::uint32_t>(i);
            if (address >> 16 != upper) {
                upper = address >> 16;
                const std::uint8_t value[2] = {static_cast<std::uint8_t>(upper >> 8),
                                               static_cast<std::uint8_t>(upper)};
                text += Record(0x04, 0, value, 2);
            }
            const std::size_t toBoundary = 0x10000 - (address & 0xFFFF);
            const std::size_t count = std::min({perRecord, segment.bytes.size() - i, toBoundary});
            text += Record(0x00, address, segment.bytes.data() + i, count);
            i += count;
        }
    }
    text += ":00000001FF\r\n";
    return text;
}

std::vector<std::uint8_t> ExpectedLpcFlash(const std::vector<HexSegment>& segments,
                                           std::uint32_t flashBytes) {
    std::vector<std::uint8_t> flash(flashBytes, 0xFF);
    for (const HexSegment& segment : segments) {
        for (std::size_t i = 0; i < segment.bytes.size(); ++i) {
            const std::size_t a = segment.address + i;
            if (a < flash.size()) {
                flash[a] = segment.bytes[i];
            }
        }
    }
    std::uint32_t sum = 0;
    for (std::size_t a = 0; a < 32 && flashBytes >= 32; a += 4) {
        if (a != 0x14) {
            sum += static_cast<std::uint32_t>(flash[a]) | flash[a + 1] << 8 | flash[a + 2] << 16 |
                   static_cast<std::uint32_t>(flash[a + 3]) << 24;
        }
    }
    const std::uint32_t check = 0u - sum;
    for (std::size_t b = 0; b < 4 && flashBytes >= 32; ++b) {
        flash[0x14 + b] = static_cast<std::uint8_t>(check >> (8 * b));
    }
    return flash;
}

}  // namespace korvel::sim
