#pragma once

#include <cstdint>
#include <vector>

#include "procedures/isp/chip_table.h"
#include "procedures/isp/flash_image.h"

namespace korvel {

// One sector of the chip as the erase pass meets it.
struct IspSector {
    std::int32_t index = 0;
    // The image has data in it: it is erased (unless already blank).
    bool used = false;
    // Asked whether it is blank first. The loader shows its own vectors over
    // the first 64 bytes, so sector 0 never reads blank and is erased unasked.
    bool blankCheck = false;

    bool operator==(const IspSector&) const = default;
};

// One block of a sector: what goes through the RAM buffer in one copy.
struct IspBlock {
    std::int32_t sector = 0;
    std::int32_t address = 0;
    // Bytes of the image in it; 0: not written.
    std::int32_t dataBytes = 0;

    bool operator==(const IspBlock&) const = default;
};

// While the boot loader runs, the first 64 bytes of flash read as its own
// vectors: a check of the written flash starts after them.
inline constexpr std::int32_t kIspBootBlockBytes = 64;

// Flash read back and compared after the write.
struct IspRange {
    std::int32_t address = 0;
    std::int32_t count = 0;

    bool operator==(const IspRange&) const = default;
};

// What one run does to the chip for an image, decided before a byte goes
// out: the sectors to erase, the blocks to write and the flash to read back.
struct IspPlan {
    // The chip's user flash.
    std::int32_t flashBytes = 0;
    // No byte of the image lies past the flash.
    bool fits = false;
    // Every sector, in flash order.
    std::vector<IspSector> sectors;
    // Every block of every sector, in flash order.
    std::vector<IspBlock> blocks;
    // The written blocks, adjacent ones joined, less the loader's 64 bytes.
    std::vector<IspRange> verify;
};

IspPlan PlanIsp(const FlashImage& image, const ChipRow& chip);

}  // namespace korvel
