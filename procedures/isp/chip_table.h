#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace korvel {

enum class SectorMap : std::uint8_t { A, B, C };
enum class JumpCode : std::uint8_t { A, B };

struct SectorGeometry {
    std::int32_t start = 0;
    std::int32_t size = 0;
};

// Everything chip-specific the ISP procedure needs, from one table row.
struct ChipRow {
    const char* name;    // shown in the log
    const char* partId;  // the boot loader's answer to "J", in decimal
    std::int32_t ramBuffer;
    std::int32_t blockSize;
    std::int32_t sectorCount;
    SectorMap map;
    JumpCode jump;

    // Start and size of sector i (0 to sectorCount - 1); {0, 0} outside.
    SectorGeometry sector(std::int32_t i) const;
    // The words of the jump program, sent little-endian.
    std::span<const std::uint32_t> jumpCode() const;
    // The jump program as it is sent: its words, little-endian.
    std::vector<std::uint8_t> jumpProgram() const;
};

// The LPC2000 parts the ISP procedure knows, in lookup order.
class ChipTable {
  public:
    static std::span<const ChipRow> rows();
    // The first row whose part identification equals the text exactly; null
    // when none does. Later rows with the same identification are never found.
    static const ChipRow* find(std::string_view partId);
};

}  // namespace korvel
