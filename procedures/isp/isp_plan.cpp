#include "procedures/isp/isp_plan.h"

#include <algorithm>

namespace korvel {

IspPlan PlanIsp(const FlashImage& image, const ChipRow& chip) {
    IspPlan plan;
    const SectorGeometry last = chip.sector(chip.sectorCount - 1);
    plan.flashBytes = last.start + last.size;
    plan.fits = !image.AnyData(plan.flashBytes, FlashImage::kSize - 1);
    for (std::int32_t i = 0; i < chip.sectorCount; ++i) {
        const SectorGeometry sector = chip.sector(i);
        const bool used = image.AnyData(sector.start, sector.start + sector.size - 1);
        plan.sectors.push_back({i, used, used && i != 0});
        for (std::int32_t offset = 0; offset < sector.size; offset += chip.blockSize) {
            const std::int32_t address = sector.start + offset;
            const std::int32_t bytes = image.DataBytes(address, address + chip.blockSize - 1);
            plan.blocks.push_back({i, address, bytes});
            if (bytes == 0) {
                continue;
            }
            // Adjacent blocks are read back as one range: one command and
            // one answer fewer per block.
            if (!plan.verify.empty() &&
                plan.verify.back().address + plan.verify.back().count == address) {
                plan.verify.back().count += chip.blockSize;
            } else {
                const std::int32_t start = std::max(address, kIspBootBlockBytes);
                plan.verify.push_back({start, address + chip.blockSize - start});
            }
        }
    }
    return plan;
}

}  // namespace korvel
