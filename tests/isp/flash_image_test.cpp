#include "procedures/isp/flash_image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvel {
namespace {

constexpr const char* kRecord0123 = ":0400000001020304F2\r\n";
constexpr const char* kEof = ":00000001FF\r\n";

struct Loaded {
    int result;
    std::string stdoutText;
};

Loaded Load(FlashImage& image, const std::string& text) {
    testing::internal::CaptureStdout();
    const int result = image.LoadHex(reinterpret_cast<const std::uint8_t*>(text.data()),
                                     static_cast<std::int32_t>(text.size()));
    return {result, testing::internal::GetCapturedStdout()};
}

std::vector<std::uint8_t> Read(const FlashImage& image, std::int32_t start, std::int32_t count) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count), 0x5A);
    image.ReadImage(start, count, bytes.data());
    return bytes;
}

using Bytes = std::vector<std::uint8_t>;

TEST(FlashImageTest, DataRecordsLoadUntilTheEndOfFileRecord) {
    FlashImage image;
    // Lines after the end-of-file record are not read, not even malformed ones.
    const Loaded loaded =
        Load(image, std::string(kRecord0123) + kEof + ":zz\r\n" + ":010020005A85\r\n");
    EXPECT_EQ(loaded.result, 4);
    EXPECT_EQ(loaded.stdoutText, "");
    EXPECT_EQ(Read(image, 0, 5), (Bytes{1, 2, 3, 4, 0xFF}));
    EXPECT_FALSE(image.AnyData(0x20, 0x20));
    EXPECT_TRUE(image.endSeen());
}

TEST(FlashImageTest, TextWithoutEndRecordLoadsToItsLastLineAndCountsOverlapsTwice) {
    FlashImage image;
    const Loaded loaded = Load(image, std::string(kRecord0123) + ":010020005A85\r\n" + kRecord0123 +
                                          ":03001000deadbea4\r\n");
    EXPECT_EQ(loaded.result, 4 + 1 + 4 + 3);
    EXPECT_EQ(Read(image, 0x20, 1), Bytes{0x5A});
    EXPECT_EQ(Read(image, 0x10, 3), (Bytes{0xDE, 0xAD, 0xBE}));
}

TEST(FlashImageTest, MalformedRecordStopsTheLoadButKeepsWhatCameBefore) {
    FlashImage image;
    // Wrong checksum byte on line 2: its bytes stay, the line number is reported.
    const Loaded loaded = Load(image, std::string(":010020005A85\r\n") + ":0400000001020304F3\r\n" +
                                          ":03001000DEADBEA4\r\n");
    EXPECT_EQ(loaded.result, FlashImage::kParseError);
    EXPECT_EQ(loaded.stdoutText, "Warning, parse error line 2\n");
    EXPECT_EQ(Read(image, 0, 4), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(Read(image, 0x20, 1), Bytes{0x5A});
    EXPECT_FALSE(image.AnyData(0x10, 0x12));
}

TEST(FlashImageTest, EveryKindOfBadLineIsMalformed) {
    const std::string before = kRecord0123;
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"empty line", "\r\n"},
        {"no colon", "0400000001020304F2\r\n"},
        {"too short", ":000000\r\n"},
        {"shorter than its count", ":0400000001020304\r\n"},
        {"count not hex", ":G400000001020304F2\r\n"},
        {"data not hex", ":04000000010203X4F2\r\n"},
        {"checksum not hex", ":0400000001020304FZ\r\n"},
        {"LF line end", ":00000001FF\n"},
        {"last line without CR LF", ":00000001FF"},
        {"line longer than the buffer", ":" + std::string(1100, '0') + "\r\n"},
    };
    for (const auto& [what, line] : cases) {
        FlashImage image;
        const Loaded loaded = Load(image, before + line);
        EXPECT_EQ(loaded.result, FlashImage::kParseError) << what;
        EXPECT_EQ(loaded.stdoutText, "Warning, parse error line 2\n") << what;
        EXPECT_EQ(Read(image, 0, 4), (Bytes{1, 2, 3, 4})) << what;
    }
}

TEST(FlashImageTest, LfOnlyTextIsMalformedAtItsFirstLine) {
    FlashImage image;
    const Loaded loaded = Load(image, ":0400000001020304F2\n:00000001FF\n");
    EXPECT_EQ(loaded.result, FlashImage::kParseError);
    EXPECT_EQ(loaded.stdoutText, "Warning, parse error line 1\n");
}

TEST(FlashImageTest, LinesUpToTheBufferSizeAndZeroPaddingAreAccepted) {
    FlashImage image;
    // 1022 characters and CR LF fill the 1024-byte line buffer exactly; the
    // record only reads what its count says.
    const std::string longLine = std::string(kRecord0123).substr(0, 19) + std::string(1003, ' ');
    ASSERT_EQ(longLine.size(), 1022u);
    std::string text = longLine + "\r\n";
    text += std::string(3, '\0') + "\r\n";  // a line starting with a zero byte is skipped
    text += kEof;
    text += std::string(40, '\0');  // padding after the text
    const Loaded loaded = Load(image, text);
    EXPECT_EQ(loaded.result, 4);
    EXPECT_EQ(loaded.stdoutText, "");
}

TEST(FlashImageTest, ExtendedAddressesMoveTheFollowingRecords) {
    FlashImage image;
    // Type 04 with 0x0001: the next record lands at 0x10000.
    EXPECT_EQ(Load(image, std::string(":020000040001F9\r\n") + kRecord0123 + kEof).result, 4);
    EXPECT_EQ(Read(image, 0x10000, 4), (Bytes{1, 2, 3, 4}));
    EXPECT_FALSE(image.AnyData(0, 0xFFFF));
    // Type 02 with 0x1000: segment * 16.
    EXPECT_EQ(Load(image, std::string(":020000021000EC\r\n") + kRecord0123).result, 4);
    EXPECT_EQ(Read(image, 0x10000, 4), (Bytes{1, 2, 3, 4}));
    // An address record with a wrong checksum is skipped, not malformed.
    EXPECT_EQ(Load(image, std::string(":020000040001F8\r\n") + kRecord0123).result, 4);
    EXPECT_EQ(Read(image, 0, 4), (Bytes{1, 2, 3, 4}));
    // Unknown record types are skipped too.
    EXPECT_EQ(Load(image, std::string(":00000005FB\r\n") + kRecord0123).result, 4);
}

TEST(FlashImageTest, ExtendedAddressAtTheImageEndMakesEveryLaterRecordMalformed) {
    FlashImage image;
    // 0x80000 alone is past the image: even the end-of-file record is malformed.
    const Loaded loaded = Load(image, std::string(":020000040008F2\r\n") + kEof);
    EXPECT_EQ(loaded.result, FlashImage::kParseError);
    EXPECT_EQ(loaded.stdoutText, "Warning, parse error line 2\n");
}

TEST(FlashImageTest, TheLastImageByteNeverReceivesData) {
    FlashImage image;
    EXPECT_EQ(Load(image, std::string(":020000040007F3\r\n") + ":02FFFD00AABB9D\r\n").result, 2);
    EXPECT_EQ(Read(image, 0x7FFFD, 2), (Bytes{0xAA, 0xBB}));
    const Loaded loaded = Load(image, std::string(":020000040007F3\r\n") + ":02FFFE00AABB9C\r\n");
    EXPECT_EQ(loaded.result, FlashImage::kParseError);
    EXPECT_EQ(loaded.stdoutText, "Warning, parse error line 2\n");
}

TEST(FlashImageTest, RequestsOutsideTheImageReadErasedAndWriteNothing) {
    FlashImage image;
    const std::uint8_t four[4] = {9, 8, 7, 6};
    image.WriteImage(0x7FFFC, 4, four);  // would touch 0x7FFFF
    image.WriteImage(-1, 4, four);
    EXPECT_FALSE(image.AnyData(0x7FFF0, 0x7FFFF));
    EXPECT_FALSE(image.AnyData(0, 3));
    image.WriteImage(0x7FFF0, 4, four);
    EXPECT_EQ(Read(image, 0x7FFF0, 4), (Bytes{9, 8, 7, 6}));
    EXPECT_EQ(Read(image, 0x7FFFC, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Read(image, 0x7FFEE, 4), (Bytes{0xFF, 0xFF, 9, 8}));
    EXPECT_TRUE(image.AnyData(0x7FF00, 0x7FFFF));
    EXPECT_FALSE(image.AnyData(0x7FF00, 0x80000));
    EXPECT_FALSE(image.AnyData(0x7FFF3, 0x7FFF0));
    EXPECT_FALSE(image.AnyData(-1, 0x7FFF3));
}

TEST(FlashImageTest, VectorChecksumMakesTheEightVectorsAddUpToZero) {
    FlashImage empty;
    empty.SetVectorChecksum();
    // Seven erased words: 7 * 0xFFFFFFFF = 0xFFFFFFF9, negated 7.
    EXPECT_EQ(Read(empty, 0x14, 4), (Bytes{0x07, 0x00, 0x00, 0x00}));
    EXPECT_TRUE(empty.AnyData(0x14, 0x17));
    EXPECT_FALSE(empty.AnyData(0x10, 0x13));

    FlashImage image;
    // LDR pc, [pc, #24] in all eight vectors; the checksum slot is replaced.
    const std::string vectors = ":10000000" +
                                std::string(
                                    "18F09FE518F09FE518F09FE518F09FE5"
                                    "C0\r\n") +
                                ":10001000" + "18F09FE518F09FE518F09FE518F09FE5" + "B0\r\n";
    ASSERT_EQ(Load(image, vectors).result, 32);
    image.SetVectorChecksum();
    // 7 * 0xE59FF018 = 0x6475F90A8 -> low word 0x475F90A8, negated 0xB8A06F58.
    EXPECT_EQ(Read(image, 0x14, 4), (Bytes{0x58, 0x6F, 0xA0, 0xB8}));
}

TEST(FlashImageTest, UuencodedLinesMatchTheWireFormat) {
    EXPECT_EQ(UuChar(0), '`');
    EXPECT_EQ(UuChar(0x40), '`');
    EXPECT_EQ(UuChar(1), '!');
    EXPECT_EQ(UuChar(63), '_');
    const std::uint8_t cat[3] = {0x43, 0x61, 0x74};
    EXPECT_EQ(UuencodeLine(cat, 3), "#0V%T");
    // Two bytes: the group is completed from the buffer (here: its end, 0).
    EXPECT_EQ(UuencodeLine(std::span(cat, 2), 2), "\"0V$`");
    std::uint8_t counting[45];
    for (int i = 0; i < 45; ++i) {
        counting[i] = static_cast<std::uint8_t>(i);
    }
    const std::string full = UuencodeLine(counting, 45);
    EXPECT_EQ(full.size(), 61u);
    EXPECT_EQ(full, "M``$\"`P0%!@<(\"0H+#`T.#Q`1$A,4%187&!D:&QP='A\\@(2(C)\"4F)R@I*BLL");
    EXPECT_EQ(UuencodeLine(std::vector<std::uint8_t>{0xFF}, 1), "!_P``");
}

}  // namespace
}  // namespace korvel
