// The plan of an ISP run, decided from the image and the chip row alone:
// which sectors are erased (and asked first whether they are blank), which
// blocks are written, which flash is read back, and whether the image fits.
#include "procedures/isp/isp_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace korvel {
namespace {

struct Segment {
    std::int32_t address;
    std::int32_t count;
};

struct PlanCase {
    const char* what;
    const char* partId;
    std::vector<Segment> image;
    bool fits;
    std::vector<std::int32_t> erased;
    // Written blocks: address and the image bytes in them.
    std::vector<std::pair<std::int32_t, std::int32_t>> written;
    std::vector<IspRange> verify;
};

TEST(IspPlanTest, SectorsBlocksAndReadBackFollowTheImageOnEveryMap) {
    // LPC2138: 4 KB sectors 0-7, 32 KB sectors 8-21 (0x8000-0x77FFF), 4 KB
    // sectors 22-26 up to 0x7CFFF; 4 KB blocks. LPC2129: 8 KB sectors with
    // two of 64 KB (8 and 9, 0x10000-0x2FFFF); 8 KB blocks. LPC2368: as the
    // LPC2138 with a sector 27 up to 0x7DFFF.
    const std::vector<PlanCase> cases = {
        {"one byte at 0", "196389", {{0, 1}}, true, {0}, {{0, 1}}, {{64, 4032}}},
        {"last byte of sector 7, first of sector 8",
         "196389",
         {{0x7FFF, 2}},
         true,
         {7, 8},
         {{0x7000, 1}, {0x8000, 1}},
         {{0x7000, 0x2000}}},
        {"a whole 32 KB sector, nothing around it",
         "196389",
         {{0x8000, 0x8000}},
         true,
         {8},
         {{0x8000, 4096},
          {0x9000, 4096},
          {0xA000, 4096},
          {0xB000, 4096},
          {0xC000, 4096},
          {0xD000, 4096},
          {0xE000, 4096},
          {0xF000, 4096}},
         {{0x8000, 0x8000}}},
        {"blank sectors between two used ones",
         "196389",
         {{0x10, 16}, {0x10000, 16}},
         true,
         {0, 9},
         {{0, 16}, {0x10000, 16}},
         {{64, 4032}, {0x10000, 4096}}},
        {"ends on the last byte of the flash",
         "196389",
         {{0x7CFF0, 16}},
         true,
         {26},
         {{0x7C000, 16}},
         {{0x7C000, 4096}}},
        {"one byte past the flash",
         "196389",
         {{0x7CFF0, 17}},
         false,
         {26},
         {{0x7C000, 16}},
         {{0x7C000, 4096}}},
        {"ends on the last byte of sector 27",
         "369162533",
         {{0x7D000, 0x1000}},
         true,
         {27},
         {{0x7D000, 4096}},
         {{0x7D000, 4096}}},
        {"one byte past sector 27", "369162533", {{0x7E000, 1}}, false, {}, {}, {}},
        {"across the first 64 KB sector",
         "33685267",
         {{0xFFFF, 0x2002}},
         true,
         {7, 8},
         {{0xE000, 1}, {0x10000, 8192}, {0x12000, 1}},
         {{0xE000, 0x6000}}},
    };
    for (const PlanCase& c : cases) {
        SCOPED_TRACE(c.what);
        const ChipRow* chip = ChipTable::find(c.partId);
        ASSERT_NE(chip, nullptr);
        FlashImage image;
        for (const Segment& s : c.image) {
            const std::vector<std::uint8_t> bytes(static_cast<std::size_t>(s.count), 0x00);
            image.WriteImage(s.address, s.count, bytes.data());
        }
        const IspPlan plan = PlanIsp(image, *chip);
        EXPECT_EQ(plan.fits, c.fits);

        // Every sector is met in order; a used one is erased, and asked
        // whether it is blank first unless it is sector 0.
        ASSERT_EQ(plan.sectors.size(), static_cast<std::size_t>(chip->sectorCount));
        std::vector<std::int32_t> erased;
        for (std::size_t i = 0; i < plan.sectors.size(); ++i) {
            const IspSector& sector = plan.sectors[i];
            EXPECT_EQ(sector.index, static_cast<std::int32_t>(i));
            EXPECT_EQ(sector.blankCheck, sector.used && sector.index != 0) << i;
            if (sector.used) {
                erased.push_back(sector.index);
            }
        }
        EXPECT_EQ(erased, c.erased);

        // The blocks tile the flash; the written ones are those with data.
        std::int32_t next = 0;
        std::vector<std::pair<std::int32_t, std::int32_t>> written;
        for (const IspBlock& block : plan.blocks) {
            EXPECT_EQ(block.address, next);
            const SectorGeometry sector = chip->sector(block.sector);
            EXPECT_GE(block.address, sector.start);
            EXPECT_LT(block.address, sector.start + sector.size);
            next += chip->blockSize;
            if (block.dataBytes > 0) {
                written.emplace_back(block.address, block.dataBytes);
            }
        }
        EXPECT_EQ(next, plan.flashBytes);
        EXPECT_EQ(written, c.written);
        EXPECT_EQ(plan.verify, c.verify);
    }
}

}  // namespace
}  // namespace korvel
