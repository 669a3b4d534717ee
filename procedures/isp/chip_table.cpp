#include "procedures/isp/chip_table.h"

#include <array>

namespace korvel {

namespace {

// Where the loader leaves RAM free for data: it keeps 0x40000120-0x400001FF.
constexpr std::int32_t kRamBuffer = 0x40000200;

using enum SectorMap;

// clang-format off
constexpr auto kRows = std::to_array<ChipRow>({
    // name               part id       RAM buffer  block  sectors map     jump
    {"LPC2104 (120k)", "4293984018", kRamBuffer, 8192, 15, A, JumpCode::A},
    {"LPC2105 (120k)", "4293984034", kRamBuffer, 8192, 15, A, JumpCode::A},
    {"LPC2106 (120k)", "4293984050", kRamBuffer, 8192, 15, A, JumpCode::A},
    {"LPC2114 (120k)", "16908050",   kRamBuffer, 8192, 15, A, JumpCode::A},
    {"LPC2119 (120k)", "33685266",   kRamBuffer, 8192, 15, A, JumpCode::A},
    {"LPC2124 (248k)", "16908051",   kRamBuffer, 8192, 17, B, JumpCode::A},
    {"LPC2129 (248k)", "33685267",   kRamBuffer, 8192, 17, B, JumpCode::A},
    {"LPC2131 (32k)",  "196353",     kRamBuffer, 4096,  8, C, JumpCode::A},
    {"LPC2132 (64k)",  "196369",     kRamBuffer, 4096,  9, C, JumpCode::A},
    {"LPC2134 (128k)", "196370",     kRamBuffer, 4096, 11, C, JumpCode::A},
    {"LPC2136 (256k)", "196387",     kRamBuffer, 4096, 15, C, JumpCode::A},
    {"LPC2138 (500k)", "196389",     kRamBuffer, 4096, 27, C, JumpCode::A},
    {"LPC2141 (32k)",  "67305217",   kRamBuffer, 4096,  8, C, JumpCode::A},
    {"LPC2142 (64k)",  "67305233",   kRamBuffer, 4096,  9, C, JumpCode::A},
    {"LPC2144 (128k)", "67305234",   kRamBuffer, 4096, 11, C, JumpCode::A},
    {"LPC2146 (256k)", "67305251",   kRamBuffer, 4096, 15, C, JumpCode::A},
    {"LPC2148 (500k)", "67305253",   kRamBuffer, 4096, 27, C, JumpCode::A},
    {"LPC2194 (248k)", "50462483",   kRamBuffer, 8192, 17, B, JumpCode::A},
    {"LPC2212 (120k)", "67239698",   kRamBuffer, 8192, 15, A, JumpCode::A},
    {"LPC2214 (248k)", "100794131",  kRamBuffer, 8192, 17, B, JumpCode::A},
    {"LPC2292 (248k)", "67239699",   kRamBuffer, 8192, 17, B, JumpCode::A},
    {"LPC2294 (248k)", "84016915",   kRamBuffer, 8192, 17, B, JumpCode::A},
    {"LPC2103 (32k)",  "327441",     kRamBuffer, 4096,  8, C, JumpCode::A},
    {"LPC2364 (128k)", "100924162",  kRamBuffer, 4096, 11, C, JumpCode::B},
    {"LPC2366 (256k)", "100924195",  kRamBuffer, 4096, 15, C, JumpCode::B},
    {"LPC2366 (256k)", "369162531",  kRamBuffer, 4096, 15, C, JumpCode::B},
    {"LPC2368 (500k)", "369162533",  kRamBuffer, 4096, 28, C, JumpCode::B},
    {"LPC2378 (500k)", "117702437",  kRamBuffer, 4096, 28, C, JumpCode::B},
    {"LPC2468 (500k)", "100925237",  kRamBuffer, 4096, 28, C, JumpCode::B},
});
// clang-format on

// Sets the memory map to user flash and jumps to address 0.
constexpr auto kJumpA = std::to_array<std::uint32_t>({
    0xE28F000C,  // r0 = address of the MEMMAP word below
    0xE5901000,  // r1 = MEMMAP address
    0xE3A00001,  // r0 = 1: user flash at address 0
    0xE5810000,  // MEMMAP = 1
    0xE3A0F000,  // pc = 0
    0xE01FC040,  // MEMMAP
});

// As A, and first disconnects and disables the PLL the loader left running.
constexpr auto kJumpB = std::to_array<std::uint32_t>({
    0xE28F0038,  // r0 = address of the register words below
    0xE5901000,  // r1 = MEMMAP address
    0xE5902004,  // r2 = PLLCON address
    0xE5903008,  // r3 = PLLFEED address
    0xE3A00001,  // r0 = 1
    0xE5810000,  // MEMMAP = 1
    0xE3A040AA,  // r4 = 0xAA
    0xE3A05055,  // r5 = 0x55
    0xE5820000,  // PLLCON = 1: enabled, disconnected
    0xE5834000,  // feed 0xAA
    0xE5835000,  // feed 0x55
    0xE3A00000,  // r0 = 0
    0xE5820000,  // PLLCON = 0: disabled
    0xE5834000,  // feed 0xAA
    0xE5835000,  // feed 0x55
    0xE3A0F000,  // pc = 0
    0xE01FC040,  // MEMMAP
    0xE01FC080,  // PLLCON
    0xE01FC08C,  // PLLFEED
});

SectorGeometry MapSector(SectorMap map, std::int32_t i) {
    switch (map) {
        case A:
            return {0x2000 * i, 0x2000};
        case B:
            if (i < 8) {
                return {0x2000 * i, 0x2000};
            }
            if (i < 10) {
                return {0x10000 * (i - 7), 0x10000};
            }
            return {0x30000 + 0x2000 * (i - 10), 0x2000};
        case C:
            if (i < 8) {
                return {0x1000 * i, 0x1000};
            }
            if (i < 22) {
                return {0x8000 + 0x8000 * (i - 8), 0x8000};
            }
            return {0x78000 + 0x1000 * (i - 22), 0x1000};
    }
    return {};
}

}  // namespace

SectorGeometry ChipRow::sector(std::int32_t i) const {
    if (i < 0 || i >= sectorCount) {
        return {};
    }
    return MapSector(map, i);
}

std::span<const std::uint32_t> ChipRow::jumpCode() const {
    if (jump == JumpCode::B) {
        return kJumpB;
    }
    return kJumpA;
}

std::vector<std::uint8_t> ChipRow::jumpProgram() const {
    std::vector<std::uint8_t> bytes;
    for (const std::uint32_t word : jumpCode()) {
        for (int shift = 0; shift < 32; shift += 8) {
            bytes.push_back(static_cast<std::uint8_t>(word >> shift));
        }
    }
    return bytes;
}

std::span<const ChipRow> ChipTable::rows() {
    return kRows;
}

const ChipRow* ChipTable::find(std::string_view partId) {
    for (const ChipRow& row : kRows) {
        if (partId == row.partId) {
            return &row;
        }
    }
    return nullptr;
}

}  // namespace korvel
