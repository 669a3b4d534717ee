#include "procedures/isp/chip_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <map>
#include <string>
#include <vector>

#include "sim/lpc_parts.h"

namespace korvel {
namespace {

TEST(ChipTableTest, EveryRowHasContiguousSectorsFromZeroThatItsBlocksDivide) {
    for (const ChipRow& row : ChipTable::rows()) {
        std::int32_t next = 0;
        for (std::int32_t i = 0; i < row.sectorCount; ++i) {
            const SectorGeometry s = row.sector(i);
            EXPECT_EQ(s.start, next) << row.name << " sector " << i;
            EXPECT_GT(s.size, 0) << row.name << " sector " << i;
            EXPECT_EQ(s.size % row.blockSize, 0) << row.name << " sector " << i;
            next = s.start + s.size;
        }
        // The size in the name is the flash the sectors cover; the 512 KB
        // parts are all named 500k, though the LPC23xx/24xx leave 504 KB.
        const std::string name = row.name;
        const int named = std::stoi(name.substr(name.find('(') + 1));
        EXPECT_TRUE(next / 1024 == named || (named == 500 && next / 1024 == 504))
            << row.name << ": " << next / 1024 << " KB";
        EXPECT_EQ(row.ramBuffer, 0x40000200) << row.name;
        EXPECT_EQ(row.sector(row.sectorCount).size, 0) << row.name;
        EXPECT_EQ(row.sector(-1).size, 0) << row.name;
        // Only the LPC23xx and LPC24xx need the jump code that stops the PLL.
        const bool newer = name.compare(0, 5, "LPC23") == 0 || name.compare(0, 5, "LPC24") == 0;
        EXPECT_EQ(row.jumpCode().size(), newer ? 19u : 6u) << row.name;
    }
}

// The low digit of an LPC21xx/22xx identification is its flash size: 1 for
// 32 or 64 KB, 2 for 128 KB, 3 for 256 KB, 5 for 512 KB. Where the boot
// loader sits in that flash, up to 12 KB of it are not the user's.
bool FlashMatchesId(std::int32_t usableKilobytes, std::uint32_t partId) {
    static const std::map<std::uint32_t, std::vector<std::int32_t>> bySizeDigit = {
        {1, {32, 64}}, {2, {128}}, {3, {256}}, {5, {512}}};
    const auto it = bySizeDigit.find(partId & 0xF);
    if (it == bySizeDigit.end()) {
        return false;
    }
    return std::any_of(it->second.begin(), it->second.end(), [&](std::int32_t named) {
        return usableKilobytes <= named && usableKilobytes >= named - 12;
    });
}

bool IsLpc21Or22(const std::string& name) {
    return name.compare(0, 5, "LPC21") == 0 || name.compare(0, 5, "LPC22") == 0;
}

TEST(ChipTableTest, EveryLpc21xxAnd22xxRowHasTheFlashItsIdentificationNames) {
    int checked = 0;
    for (const ChipRow& row : ChipTable::rows()) {
        if (!IsLpc21Or22(row.name)) {
            continue;
        }
        std::uint32_t id = 0;
        const std::string text = row.partId;
        ASSERT_EQ(std::from_chars(text.data(), text.data() + text.size(), id).ec, std::errc());
        const SectorGeometry last = row.sector(row.sectorCount - 1);
        EXPECT_TRUE(FlashMatchesId((last.start + last.size) / 1024, id))
            << row.name << " with id 0x" << std::hex << id;
        ++checked;
    }
    // The board model plays the same parts: its flash follows the same rule.
    for (const sim::LpcPart& part : sim::LpcParts()) {
        if (!IsLpc21Or22(part.name)) {
            continue;
        }
        const auto kilobytes = static_cast<std::int32_t>(part.flashBytes() / 1024);
        EXPECT_TRUE(FlashMatchesId(kilobytes, part.partId)) << "board model " << part.name;
    }
    EXPECT_EQ(checked, 23);
    ASSERT_NE(ChipTable::find("16908051"), nullptr);
    EXPECT_STREQ(ChipTable::find("16908051")->name, "LPC2124 (248k)");
    ASSERT_NE(ChipTable::find("67239698"), nullptr);
    EXPECT_STREQ(ChipTable::find("67239698")->name, "LPC2212 (120k)");
}

TEST(ChipTableTest, TheBoardModelPlaysEveryRowWithItsIdSectorsAndCopySize) {
    const auto rows = ChipTable::rows();
    const auto parts = sim::LpcParts();
    ASSERT_EQ(rows.size(), parts.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ChipRow& row = rows[i];
        const sim::LpcPart& part = parts[i];
        SCOPED_TRACE(row.name);
        EXPECT_EQ(std::string(row.name).rfind(std::string(part.name) + " (", 0), 0u) << part.name;
        EXPECT_EQ(row.partId, std::to_string(part.partId));
        // The largest copy the part takes is the procedure's block.
        EXPECT_EQ(row.blockSize, part.family == sim::LpcFlashFamily::Page512 ? 8192 : 4096);
        const std::vector<std::uint32_t> sizes = part.sectorSizes();
        ASSERT_EQ(static_cast<std::size_t>(row.sectorCount), sizes.size());
        std::uint32_t start = 0;
        for (std::size_t k = 0; k < sizes.size(); ++k) {
            const SectorGeometry sector = row.sector(static_cast<std::int32_t>(k));
            EXPECT_EQ(static_cast<std::uint32_t>(sector.start), start) << "sector " << k;
            EXPECT_EQ(static_cast<std::uint32_t>(sector.size), sizes[k]) << "sector " << k;
            start += sizes[k];
        }
        EXPECT_EQ(start, part.flashBytes());
    }
}

TEST(ChipTableTest, LookupMatchesTheWholeTextAndTakesTheFirstRow) {
    const ChipRow* lpc2138 = ChipTable::find("196389");
    ASSERT_NE(lpc2138, nullptr);
    EXPECT_STREQ(lpc2138->name, "LPC2138 (500k)");
    EXPECT_EQ(lpc2138->sectorCount, 27);
    EXPECT_EQ(lpc2138->blockSize, 4096);
    EXPECT_EQ(lpc2138->jumpCode().size() * 4, 24u);

    for (const char* id : {"100924195", "369162531"}) {
        const ChipRow* row = ChipTable::find(id);
        ASSERT_NE(row, nullptr) << id;
        EXPECT_STREQ(row->name, "LPC2366 (256k)");
        EXPECT_EQ(row->sectorCount, 15);
        EXPECT_EQ(row->jumpCode().size() * 4, 76u);
    }
    // The LPC23xx/24xx with 512 KB leave the user 28 sectors, 504 KB.
    for (const char* id : {"369162533", "117702437", "100925237"}) {
        const ChipRow* row = ChipTable::find(id);
        ASSERT_NE(row, nullptr) << id;
        EXPECT_EQ(row->sectorCount, 28) << row->name;
        EXPECT_EQ(row->sector(27).start + row->sector(27).size, 504 * 1024) << row->name;
    }
    ASSERT_NE(ChipTable::find("4293984018"), nullptr);
    EXPECT_STREQ(ChipTable::find("4293984018")->name, "LPC2104 (120k)");
    EXPECT_EQ(ChipTable::find("04293984018"), nullptr);
    EXPECT_EQ(ChipTable::find("4293984018 "), nullptr);
    EXPECT_EQ(ChipTable::find(""), nullptr);
    EXPECT_EQ(ChipTable::find("196389\r\n"), nullptr);

    // Every identification finds the first row that carries it.
    for (const ChipRow& row : ChipTable::rows()) {
        const ChipRow* found = ChipTable::find(row.partId);
        ASSERT_NE(found, nullptr);
        EXPECT_LE(found, &row);
        EXPECT_STREQ(found->partId, row.partId);
    }
}

TEST(ChipTableTest, SectorMapsHaveTheirLargeSectorsWhereTheChipsDo) {
    const ChipRow* lpc2129 = ChipTable::find("33685267");  // map B
    ASSERT_NE(lpc2129, nullptr);
    EXPECT_EQ(lpc2129->sector(8).start, 0x10000);
    EXPECT_EQ(lpc2129->sector(8).size, 0x10000);
    EXPECT_EQ(lpc2129->sector(10).start, 0x30000);
    EXPECT_EQ(lpc2129->sector(10).size, 0x2000);

    const ChipRow* lpc2138 = ChipTable::find("196389");  // map C
    ASSERT_NE(lpc2138, nullptr);
    EXPECT_EQ(lpc2138->sector(8).start, 0x8000);
    EXPECT_EQ(lpc2138->sector(8).size, 0x8000);
    EXPECT_EQ(lpc2138->sector(22).start, 0x78000);
    EXPECT_EQ(lpc2138->sector(22).size, 0x1000);

    const ChipRow* lpc2131 = ChipTable::find("196353");
    ASSERT_NE(lpc2131, nullptr);
    EXPECT_EQ(lpc2131->sector(7).start + lpc2131->sector(7).size, 32 * 1024);
    EXPECT_EQ(lpc2131->sector(8).size, 0);
}

}  // namespace
}  // namespace korvel
