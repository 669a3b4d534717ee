#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace korvel::pcx {

// The PCX's flash, as its boot loader numbers and addresses it.
// Sectors 0 to 7 hold the loader and sector 27 the unit's own data; only
// sectors 8 to 26 are ever erased or written.
struct SectorRun {
    int first;
    int last;
    std::uint32_t start;  // of the run's first sector
    std::uint32_t size;   // of each sector
};

// clang-format off
inline constexpr auto kSectorRuns = std::to_array<SectorRun>({
//   first last  start   size
    {0,    7,    0,      4096},
    {8,    21,   32768,  32768},
    {22,   27,   491520, 4096},
});
// clang-format on

inline constexpr int kSectorCount = kSectorRuns.back().last + 1;
inline constexpr int kFirstProgrammableSector = 8;
inline constexpr int kLastProgrammableSector = 26;
// Image offset 0 lands at the start of the first programmable sector.
inline constexpr std::uint32_t kImageBase = 32768;

constexpr std::uint32_t SectorSize(int sector) {
    for (const SectorRun& run : kSectorRuns) {
        if (sector >= run.first && sector <= run.last) {
            return run.size;
        }
    }
    return 0;
}

constexpr std::uint32_t SectorStart(int sector) {
    for (const SectorRun& run : kSectorRuns) {
        if (sector >= run.first && sector <= run.last) {
            return run.start + static_cast<std::uint32_t>(sector - run.first) * run.size;
        }
    }
    return 0;
}

// The sector holding a flash address; none past the last sector.
constexpr std::optional<int> SectorOf(std::uint32_t address) {
    for (int sector = 0; sector < kSectorCount; ++sector) {
        if (address >= SectorStart(sector) && address - SectorStart(sector) < SectorSize(sector)) {
            return sector;
        }
    }
    return std::nullopt;
}

}  // namespace korvel::pcx
