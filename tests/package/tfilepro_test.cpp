#include "package/tfilepro.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>

#include "package/printable_text.h"
#include "sim/boot_monitor_model.h"
#include "sim/lpc_parts.h"
#include "sim/package_writer.h"
#include "sim/pcx_board.h"
#include "sim/resident_loader_model.h"
#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A header written byte by byte, independent of any package writer.
Bytes Header(const std::string& name, const std::string& version, std::uint32_t size, char kind) {
    Bytes h(32, 0);
    h[0] = 'B';
    h[1] = 'A';
    for (std::size_t i = 0; i < name.size() && i < 14; ++i)
        h[2 + i] = static_cast<std::uint8_t>(name[i]);
    for (std::size_t i = 0; i < version.size() && i < 7; ++i)
        h[16 + i] = static_cast<std::uint8_t>(version[i]);
    h[23] = static_cast<std::uint8_t>(size >> 24);
    h[24] = static_cast<std::uint8_t>(size >> 16);
    h[25] = static_cast<std::uint8_t>(size >> 8);
    h[26] = static_cast<std::uint8_t>(size);
    h[28] = static_cast<std::uint8_t>(kind);
    return h;
}

Bytes Entry(const std::string& name, const std::string& version, char kind, const Bytes& data,
            Bytes trailer = {0xAA, 0x55}) {
    Bytes e = Header(name, version, static_cast<std::uint32_t>(data.size()), kind);
    e.insert(e.end(), data.begin(), data.end());
    e.insert(e.end(), trailer.begin(), trailer.end());
    return e;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class TFileProTest : public ::testing::Test {
  protected:
    test::TempDir dir;
    TFilePro pro;
};

TEST_F(TFileProTest, OneEntryEndingExactlyAtEndOfFileLoads) {
    const auto file = dir.write("a.pr2", Entry("LPC2138", "1.02", 'F', {1, 2, 3}));
    ASSERT_TRUE(pro.LoadFromFile(file));
    EXPECT_EQ(pro.entryCount(), 1);
    EXPECT_EQ(pro.kind(), 'F');
    EXPECT_EQ(pro.entryName(0), "LPC2138");
    EXPECT_EQ(pro.entryVersion(0), "1.02");
    EXPECT_EQ(pro.entrySize(0), 3);
    EXPECT_EQ(pro.entryOffset(0), 32);
    EXPECT_EQ(pro.fileSize(), 32 + 3 + 2);
    // The buffer holds the data followed by the two trailer bytes.
    const Bytes expected = {1, 2, 3, 0xAA, 0x55};
    EXPECT_EQ(Bytes(pro.entryData(0), pro.entryData(0) + 5), expected);
    EXPECT_EQ(pro.entryData(1), nullptr);
    EXPECT_EQ(pro.entryKind(1), 0);
}

TEST_F(TFileProTest, StructuralFaultsGiveAnEmptyReader) {
    struct Case {
        const char* what;
        Bytes bytes;
    };
    const Bytes good = Entry("X", "1", 'F', Bytes(16, 0x11));
    Bytes badMagic = good;
    badMagic[1] = 'B';
    Bytes sizePastEnd = good;
    sizePastEnd[26] = 17;  // claims one byte more than there is
    Bytes hugeSize = good;
    hugeSize[23] = 0x80;  // 0x80000010: never a buffer of that size
    Bytes allOnes = good;
    allOnes[23] = allOnes[24] = allOnes[25] = allOnes[26] = 0xFF;
    const std::vector<Case> cases = {
        {"empty file", {}},
        {"shorter than a header", Bytes(31, 'B')},
        {"header not BA", badMagic},
        {"size runs past the file", sizePastEnd},
        {"size of 2 GiB or more", hugeSize},
        {"size 0xFFFFFFFF", allOnes},
        {"ten stray bytes after the last entry", good + Bytes(10, 0)},
        {"a second header without BA", good + Bytes(32, 'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto file = dir.write("bad.pr2", c.bytes);
        EXPECT_FALSE(pro.LoadFromFile(file));
        EXPECT_EQ(pro.entryCount(), 0);
        EXPECT_EQ(pro.kind(), 0);
        EXPECT_EQ(pro.fileSize(), 0);
        EXPECT_EQ(pro.entryData(0), nullptr);
    }
}

// The limit on an entry holds every board's largest image: the boot
// monitor's RAM window, and each flash as HEX text of one byte a record
// (":01AAAA00DDCC" and a line end: 15 characters a byte).
TEST_F(TFileProTest, AnEntryLargerThanAnyBoardTakesIsRefusedBeforeItIsRead) {
    std::uint32_t largestFlash =
        std::max(sim::PcxBoard::kFlashSize, sim::ResidentLoaderModel::kFlashSize);
    for (const sim::LpcPart& part : sim::LpcParts()) {
        largestFlash = std::max(largestFlash, part.flashBytes());
    }
    EXPECT_GE(TFilePro::kMaxEntrySize, 15u * largestFlash);
    EXPECT_GE(TFilePro::kMaxEntrySize, sim::BootMonitorConfig{}.maxTransferBytes);

    for (const std::uint32_t size : {TFilePro::kMaxEntrySize, TFilePro::kMaxEntrySize + 1}) {
        SCOPED_TRACE(size);
        // A sparse file of the whole size: only the header is on the disk.
        const auto file = dir.write("large.pr2", Header("BIG", "1", size, '9'));
        std::filesystem::resize_file(file, TFilePro::kHeaderSize + size + TFilePro::kTrailerSize);
        EXPECT_EQ(pro.LoadFromFile(file), size == TFilePro::kMaxEntrySize);
    }
}

TEST_F(TFileProTest, MissingFileAndDirectoryFail) {
    EXPECT_FALSE(pro.LoadFromFile(dir.path("missing.pr2").string()));
    EXPECT_FALSE(pro.LoadFromFile(dir.path("").string()));
}

TEST_F(TFileProTest, SixEntriesLoadTheFirstFive) {
    Bytes file;
    for (int i = 0; i < 6; ++i) {
        file = file + Entry("E" + std::to_string(i), "v", static_cast<char>('0' + i),
                            Bytes(static_cast<std::size_t>(i), 7));
    }
    ASSERT_TRUE(pro.LoadFromFile(dir.write("six.pr2", file)));
    EXPECT_EQ(pro.entryCount(), 5);
    EXPECT_EQ(pro.entryName(4), "E4");
    EXPECT_EQ(pro.entrySize(4), 4);
    EXPECT_EQ(pro.kind(), '0');
}

TEST_F(TFileProTest, SizeIsBigEndianAndPlacesTheNextEntry) {
    const Bytes file = Entry("A", "1", '9', Bytes(256, 0x5A)) + Entry("B", "2", 'x', {9});
    ASSERT_TRUE(pro.LoadFromFile(dir.write("two.pr2", file)));
    EXPECT_EQ(pro.entrySize(0), 256);
    EXPECT_EQ(pro.entryOffset(1), 290 + 32);
    EXPECT_EQ(pro.entryName(1), "B");
    EXPECT_EQ(pro.entryData(1)[0], 9);
}

TEST_F(TFileProTest, HeaderTextsAreCutAndTrimmed) {
    Bytes h = Header("", "", 0, 'G');
    const std::string fullName = "ABCDEFGHIJKLMN";  // 14 characters, no zero
    std::copy(fullName.begin(), fullName.end(), h.begin() + 2);
    const std::string fullVersion = "1234567";
    std::copy(fullVersion.begin(), fullVersion.end(), h.begin() + 16);
    h.push_back(0);
    h.push_back(0);
    ASSERT_TRUE(pro.LoadFromFile(dir.write("n.pr2", h)));
    EXPECT_EQ(pro.entryName(0), fullName);
    EXPECT_EQ(pro.entryVersion(0), fullVersion);

    ASSERT_TRUE(pro.LoadFromFile(dir.write("t.pr2", Entry("  ABC", "\t1.0 ", 'G', {}))));
    EXPECT_EQ(pro.entryName(0), "ABC");
    EXPECT_EQ(pro.entryVersion(0), "1.0");

    // Control characters inside a text stay in it; shown, they are escaped.
    ASSERT_TRUE(
        pro.LoadFromFile(dir.write("e.pr2", Entry("A\x1b[2JB\x9b", "1\x07\x7f\xe9", 'G', {}))));
    EXPECT_EQ(PrintableText(pro.entryName(0)), "A\\x1B[2JB\\x9B");
    EXPECT_EQ(PrintableText(pro.entryVersion(0)), "1\\x07\\x7F\xe9");
}

TEST_F(TFileProTest, FailedSecondLoadLeavesNothingOfTheFirst) {
    ASSERT_TRUE(pro.LoadFromFile(
        dir.write("a.pr2", Entry("A", "1", 'F', {1}) + Entry("B", "1", 'F', {2}))));
    ASSERT_TRUE(pro.LoadFromFile(dir.write("b.pr2", Entry("C", "3", '(', {3}))));
    EXPECT_EQ(pro.entryCount(), 1);
    EXPECT_EQ(pro.entryName(1), "");
    EXPECT_EQ(pro.kind(), '(');
    EXPECT_FALSE(pro.LoadFromFile(dir.write("c.pr2", Bytes{'B', 'A'})));
    EXPECT_EQ(pro.entryCount(), 0);
    EXPECT_EQ(pro.entryName(0), "");
}

TEST(TFileProReloadTest, APackageChangedOnDiskIsLoadedAgainBeforeARun) {
    namespace fs = std::filesystem;
    using Freshness = TFilePro::Freshness;
    const auto kOld = sim::BuildPackage({{"OLD", "1.0", 'F', {1, 2, 3}}});
    struct Case {
        const char* name;
        std::function<void(test::TempDir&, const std::string&)> change;
        Freshness freshness;
        std::string device;  // entry 0's name afterwards
    };
    const std::vector<Case> cases = {
        {"untouched", [](test::TempDir&, const std::string&) {}, Freshness::Unchanged, "OLD"},
        {"rewritten with another size",
         [](test::TempDir& d, const std::string&) {
             d.write("a.pr2", sim::BuildPackage({{"NEW", "2.0", 'F', {1, 2, 3, 4}}}));
         },
         Freshness::Reloaded, "NEW"},
        {"same size, modified later",
         [](test::TempDir& d, const std::string& file) {
             const auto when = fs::last_write_time(file);
             d.write("a.pr2", sim::BuildPackage({{"NEW", "2.0", 'F', {7, 8, 9}}}));
             fs::last_write_time(file, when + std::chrono::seconds(2));
         },
         Freshness::Reloaded, "NEW"},
        {"no longer a package",
         [](test::TempDir& d, const std::string&) { d.write("a.pr2", std::string("garbage")); },
         Freshness::NoLongerLoads, ""},
        {"removed", [](test::TempDir&, const std::string& file) { fs::remove(file); },
         Freshness::NoLongerLoads, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        TFilePro pro;
        const auto file = dir.write("a.pr2", kOld);
        ASSERT_TRUE(pro.LoadFromFile(file));
        c.change(dir, file);
        EXPECT_EQ(pro.ReloadIfChanged(), c.freshness);
        EXPECT_EQ(pro.entryName(0), c.device);
        // Loaded again, the file is as loaded until it changes once more.
        if (c.freshness != Freshness::NoLongerLoads) {
            EXPECT_EQ(pro.ReloadIfChanged(), Freshness::Unchanged);
        }
    }
}

}  // namespace
}  // namespace korvel
