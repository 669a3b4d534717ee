#include "procedures/isp/flash_image.h"

#include "procedures/isp/run_isp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvel {
namespace {

constexpr const char* kRecord0123 = ":0400000001020304F2\r\n";
constexpr const char* kEof = ":00000001FF\r\n";

struct Loaded {
    HexLoad load;
    // The loader reports through its result only.
    std::string printed;
};

Loaded Load(FlashImage& image, const std::string& text) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const HexLoad load =
        image.LoadHex({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    std::string printed = testing::internal::GetCapturedStdout();
    printed += testing::internal::GetCapturedStderr();
    return {load, printed};
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
    EXPECT_TRUE(loaded.load.ok());
    EXPECT_EQ(loaded.load.total, 4);
    EXPECT_EQ(loaded.load.highest, 3);
    EXPECT_EQ(loaded.printed, "");
    EXPECT_EQ(Read(image, 0, 5), (Bytes{1, 2, 3, 4, 0xFF}));
    EXPECT_FALSE(image.AnyData(0x20, 0x20));
    EXPECT_TRUE(image.endSeen());
}

TEST(FlashImageTest, TextWithoutEndRecordLoadsToItsLastLineAndCountsOverlapsTwice) {
    FlashImage image;
    const Loaded loaded = Load(image, std::string(kRecord0123) + ":010020005A85\r\n" + kRecord0123 +
                                          ":03001000deadbea4\r\n");
    EXPECT_EQ(loaded.load.total, 4 + 1 + 4 + 3);
    EXPECT_EQ(loaded.load.highest, 0x20);
    EXPECT_EQ(Read(image, 0x20, 1), Bytes{0x5A});
    EXPECT_EQ(Read(image, 0x10, 3), (Bytes{0xDE, 0xAD, 0xBE}));
}

TEST(FlashImageTest, MalformedRecordStopsTheLoadButKeepsWhatCameBefore) {
    FlashImage image;
    // Wrong checksum byte on line 2: its bytes stay, the line number is reported.
    const Loaded loaded = Load(image, std::string(":010020005A85\r\n") + ":0400000001020304F3\r\n" +
                                          ":03001000DEADBEA4\r\n");
    EXPECT_EQ(loaded.load.error, HexError::BadChecksum);
    EXPECT_EQ(loaded.load.line, 2);
    EXPECT_EQ(loaded.printed, "");
    EXPECT_EQ(Read(image, 0, 4), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(Read(image, 0x20, 1), Bytes{0x5A});
    EXPECT_FALSE(image.AnyData(0x10, 0x12));
}

TEST(FlashImageTest, EveryKindOfBadInputIsRefusedWithItsLineAndReason) {
    std::string twoHundredLines;
    for (int i = 1; i < 200; ++i) {
        twoHundredLines += kRecord0123;
    }
    twoHundredLines += ":0400000001020G04F2\r\n";
    struct Case {
        const char* what;
        std::string text;
        HexError error;
        int line;
        const char* reason;
    };
    const std::string before = kRecord0123;
    const std::vector<Case> cases = {
        {"empty line", before + "\r\n", HexError::NoColon, 2, "does not start with ':'"},
        {"no colon", before + "0400000001020304F2\r\n", HexError::NoColon, 2,
         "does not start with ':'"},
        {"too short", before + ":000000\r\n", HexError::TooShort, 2, "record too short"},
        {"shorter than its count", before + ":0400000001020304\r\n", HexError::TooShort, 2,
         "record too short"},
        {"count not hex", before + ":G400000001020304F2\r\n", HexError::NotHexDigit, 2,
         "not a hex digit"},
        {"data not hex", before + ":04000000010203X4F2\r\n", HexError::NotHexDigit, 2,
         "not a hex digit"},
        {"checksum not hex", before + ":0400000001020304FZ\r\n", HexError::NotHexDigit, 2,
         "not a hex digit"},
        {"wrong checksum", before + ":0400000001020304F3\r\n", HexError::BadChecksum, 2,
         "wrong checksum"},
        {"wrong checksum, LF line ends", ":0400000001020304F2\n:0400000001020304F3\n",
         HexError::BadChecksum, 2, "wrong checksum"},
        {"bad digit on line 200", twoHundredLines, HexError::NotHexDigit, 200, "not a hex digit"},
        {"record past the 512 KB window", before + ":020000040007F3\r\n:02FFFE00AABB9C\r\n",
         HexError::OutsideImage, 3, "address beyond 512 KB"},
        {"last line without a line end", before + ":00000001FF", HexError::NoLineEnd, 2,
         "no line end"},
        {"line longer than the buffer", before + ":" + std::string(1100, '0') + "\r\n",
         HexError::LineTooLong, 2, "line too long"},
        {"no data record", std::string(":020000040001F9\r\n") + kEof, HexError::NoData, 0,
         "no data"},
        {"only empty data records", ":0000000000\r\n" + std::string(kEof), HexError::NoData, 0,
         "no data"},
        {"nothing at all", "", HexError::NoData, 0, "no data"},
        // Address, start and end records are records like data ones: a wrong
        // one is never skipped, so no data lands at the old base.
        {"address record with a wrong checksum", before + ":020000040001F8\r\n" + kRecord0123,
         HexError::BadChecksum, 2, "wrong checksum"},
        {"linear address record of one byte", before + ":0100000401FA\r\n" + kRecord0123,
         HexError::WrongLength, 2, "wrong length for its record type"},
        {"segment address record of four bytes", before + ":0400000200001000EA\r\n" + kRecord0123,
         HexError::WrongLength, 2, "wrong length for its record type"},
        {"address record shorter than its count", before + ":02000004F9\r\n", HexError::TooShort, 2,
         "record too short"},
        {"end record with a wrong checksum", before + ":00000001FE\r\n", HexError::BadChecksum, 2,
         "wrong checksum"},
        {"end record with a byte", before + ":0100000100FE\r\n", HexError::WrongLength, 2,
         "wrong length for its record type"},
        {"start address record without its address", before + ":00000005FB\r\n",
         HexError::WrongLength, 2, "wrong length for its record type"},
        {"record type 06", before + ":00000006FA\r\n", HexError::UnknownType, 2,
         "unknown record type"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FlashImage image;
        const Loaded loaded = Load(image, c.text);
        EXPECT_FALSE(loaded.load.ok());
        EXPECT_EQ(loaded.load.error, c.error);
        EXPECT_EQ(loaded.load.line, c.line);
        EXPECT_STREQ(Describe(loaded.load.error), c.reason);
        EXPECT_EQ(loaded.printed, "");
    }
}

TEST(FlashImageTest, LfLineEndsReadLikeCrLf) {
    const std::string crLf = std::string(kRecord0123) + ":020000040001F9\r\n" + kRecord0123 + kEof;
    for (const std::string& text :
         {std::string(":0400000001020304F2\n:020000040001F9\n:0400000001020304F2\n:00000001FF\n"),
          std::string(
              ":0400000001020304F2\n:020000040001F9\r\n:0400000001020304F2\n:00000001FF\r\n")}) {
        FlashImage image;
        FlashImage reference;
        const Loaded loaded = Load(image, text);
        ASSERT_TRUE(loaded.load.ok());
        EXPECT_EQ(loaded.load.total, 8);
        EXPECT_EQ(loaded.load.highest, 0x10003);
        ASSERT_TRUE(Load(reference, crLf).load.ok());
        EXPECT_EQ(Read(image, 0, 0x10004), Read(reference, 0, 0x10004));
    }
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
    EXPECT_TRUE(loaded.load.ok());
    EXPECT_EQ(loaded.load.total, 4);
    // With LF alone, the line itself may be one character longer.
    const std::string lfLine = std::string(kRecord0123).substr(0, 19) + std::string(1004, ' ');
    EXPECT_TRUE(Load(image, lfLine + "\n" + ":00000001FF\n").load.ok());
}

TEST(FlashImageTest, ExtendedAddressesMoveTheFollowingRecords) {
    FlashImage image;
    // Type 04 with 0x0001: the next record lands at 0x10000.
    EXPECT_EQ(Load(image, std::string(":020000040001F9\r\n") + kRecord0123 + kEof).load.total, 4);
    EXPECT_EQ(Read(image, 0x10000, 4), (Bytes{1, 2, 3, 4}));
    EXPECT_FALSE(image.AnyData(0, 0xFFFF));
    // Type 02 with 0x1000: segment * 16.
    EXPECT_EQ(Load(image, std::string(":020000021000EC\r\n") + kRecord0123).load.total, 4);
    EXPECT_EQ(Read(image, 0x10000, 4), (Bytes{1, 2, 3, 4}));
    // A start address (type 05) places nothing.
    const Loaded started = Load(image, std::string(":0400000500000131C5\r\n") + kRecord0123);
    EXPECT_TRUE(started.load.ok());
    EXPECT_EQ(started.load.total, 4);
    EXPECT_EQ(Read(image, 0, 4), (Bytes{1, 2, 3, 4}));
}

TEST(FlashImageTest, ExtendedAddressAtTheImageEndMakesEveryLaterRecordMalformed) {
    FlashImage image;
    // 0x80000 alone is past the image: even the end-of-file record is malformed.
    const Loaded loaded = Load(image, std::string(":020000040008F2\r\n") + kEof);
    EXPECT_EQ(loaded.load.error, HexError::OutsideImage);
    EXPECT_EQ(loaded.load.line, 2);
}

TEST(FlashImageTest, TheLastImageByteNeverReceivesData) {
    FlashImage image;
    const HexLoad last =
        Load(image, std::string(":020000040007F3\r\n") + ":02FFFD00AABB9D\r\n").load;
    EXPECT_EQ(last.total, 2);
    EXPECT_EQ(last.highest, 0x7FFFE);
    EXPECT_EQ(Read(image, 0x7FFFD, 2), (Bytes{0xAA, 0xBB}));
    const Loaded loaded = Load(image, std::string(":020000040007F3\r\n") + ":02FFFE00AABB9C\r\n");
    EXPECT_EQ(loaded.load.error, HexError::OutsideImage);
    EXPECT_EQ(loaded.load.line, 2);
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
    ASSERT_EQ(Load(image, vectors).load.total, 32);
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

TEST(FlashImageTest, UudecodingTakesWellFormedLinesOnly) {
    const struct {
        const char* line;
        bool ok;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"#0V%T", true, {0x43, 0x61, 0x74}},
        {"\"0V$`", true, {0x43, 0x61}},
        {"$0V%T(0``", true, {0x43, 0x61, 0x74, 0x21}},
        {"!_P``", true, {0xFF}},
        {"`", true, {}},
        {"", false, {}},
        {"#0V%", false, {}},    // a character short
        {"#0V%T`", false, {}},  // one too many
        {"#0V%t", false, {}},   // not a uuencode character
        {"N````````````````````````````````````````````````````````````````", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<std::uint8_t> bytes = {0x99};
        EXPECT_EQ(UudecodeLine(c.line, bytes), c.ok);
        std::vector<std::uint8_t> expected = {0x99};
        expected.insert(expected.end(), c.bytes.begin(), c.bytes.end());
        EXPECT_EQ(bytes, expected);
    }
    // A full line of 45.
    std::vector<std::uint8_t> full;
    EXPECT_TRUE(
        UudecodeLine("M``$\"`P0%!@<(\"0H+#`T.#Q`1$A,4%187&!D:&QP='A\\@(2(C)\"4F)R@I*BLL", full));
    ASSERT_EQ(full.size(), 45u);
    EXPECT_EQ(full[44], 44);
}

}  // namespace
}  // namespace korvel

namespace korvel {
namespace {

// A serial number goes into the HEX text itself: the digits of every record
// that holds one of its bytes and that record's checksum change, nothing
// else; bytes outside the image's data or in the first 64 bytes are refused
// with the text as it was.
TEST(FlashImageTest, SerialBytesArePatchedIntoTheRecordsThatHoldThem) {
    const std::string text = ":0400400001020304B2\r\n:04004400050607089E\r\n:00000001FF\r\n";
    struct Case {
        std::uint32_t at;
        Bytes bytes;
        std::string expected;  // the text afterwards
        std::string said;      // empty: patched
    };
    const Case cases[] = {
        {0x42,
         {0xAA, 0xBB, 0xCC, 0xDD},
         ":040040000102AABB54\r\n:04004400CCDD070800\r\n:00000001FF\r\n",
         ""},
        {0x40, {0x11}, ":0400400011020304A2\r\n:04004400050607089E\r\n:00000001FF\r\n", ""},
        {0x3F, {0x11, 0x22}, text, "first 64 bytes"},
        {0x46, {1, 2, 3, 4}, text, "flash 0x00000046 to 0x00000049 is not all inside"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.at);
        std::vector<std::uint8_t> patched(text.begin(), text.end());
        const std::string problem = IspPatchImage(patched, c.at, c.bytes);
        EXPECT_EQ(std::string(patched.begin(), patched.end()), c.expected);
        if (c.said.empty()) {
            EXPECT_EQ(problem, "");
        } else {
            EXPECT_NE(problem.find(c.said), std::string::npos) << problem;
        }
    }
}

}  // namespace
}  // namespace korvel
