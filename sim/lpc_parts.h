#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace korvel::sim {

// How a part's flash controller copies RAM to flash: the older LPC21xx/22xx
// parts take 512-byte pages up to 8 KB, the LPC213x/214x/2103/23xx/24xx ones
// 256-byte pages up to 4 KB.
enum class LpcFlashFamily : std::uint8_t { Page512, Page256 };

// One LPC2000 part as the board model plays it: what "J" answers, how much
// local RAM sits at 0x40000000, and the user flash sectors (the boot block at
// the top of the flash is not among them).
struct LpcPart {
    const char* name;
    std::uint32_t partId;
    std::uint32_t ramBytes;
    LpcFlashFamily family;
    std::uint32_t sectorCount;
    // Sizes of the sectors from address 0, as runs of equal sectors.
    std::span<const std::pair<std::uint32_t, std::uint32_t>> layout;  // {count, size}

    std::vector<std::uint32_t> sectorSizes() const;
    std::uint32_t flashBytes() const;
};

std::span<const LpcPart> LpcParts();
// By name ("LPC2138", any letter case) or by part identification in decimal.
const LpcPart* FindLpcPart(std::string_view nameOrId);

}  // namespace korvel::sim
