#include "procedures/resident_loader/loader_frame.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace korvel {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(LoaderFrameTest, RequestsCarryCommandLengthPayloadAndTheLowByteOfTheirSum) {
    EXPECT_EQ(BuildLoaderFrame(LoaderCommand::LoaderConnect, {}),
              (Bytes{0x02, 0x10, 0x00, 0x00, 0x10, 0x03}));
    const Bytes sector = {0x00, 0x02, 0x00, 0x00};
    EXPECT_EQ(BuildLoaderFrame(LoaderCommand::LoaderEraseSector, sector),
              (Bytes{0x02, 0x20, 0x00, 0x04, 0x00, 0x02, 0x00, 0x00, 0x26, 0x03}));
    // 0x16 + 0x02 + 0xF0 + 0x20 = 0x128: only the low byte goes out.
    const Bytes carry = {0xF0, 0x20};
    EXPECT_EQ(BuildLoaderFrame(LoaderCommand::LoaderPrepare, carry),
              (Bytes{0x02, 0x16, 0x00, 0x02, 0xF0, 0x20, 0x28, 0x03}));
}

TEST(LoaderFrameTest, APayloadNoRequestHasIsRefusedRatherThanTruncated) {
    const Bytes block(4 + 1024, 0xFF);
    EXPECT_EQ(BuildLoaderFrame(LoaderCommand::LoaderWriteAtAddress, block).size(), 1034u);
    const Bytes tooLong(4 + 1025, 0xFF);
    EXPECT_THROW(BuildLoaderFrame(LoaderCommand::LoaderWriteAtAddress, tooLong), std::length_error);
}

struct ReplyCase {
    const char* what;
    Bytes bytes;
    bool complete;
};

Bytes LongReply() {
    // Command 0x7E, 300 payload bytes of 0x01: 0x7E + 0x01 + 0x2C + 300 = 471 = 0x1D7.
    Bytes b = {0x02, 0x7E, 0x01, 0x2C};
    b.insert(b.end(), 300, 0x01);
    b.push_back(0xD7);
    b.push_back(0x03);
    return b;
}

TEST(LoaderReplyParserTest, TakesAnyWellFormedFrameAndNothingElse) {
    const ReplyCase cases[] = {
        {"the connect echo", {0x02, 0x10, 0x00, 0x00, 0x10, 0x03}, true},
        {"another command with payload",
         {0x02, 0x7E, 0x00, 0x03, 0x01, 0x02, 0x03, 0x87, 0x03},
         true},
        {"noise before the start byte",
         {0xFF, 0x00, 0x03, 0x02, 0x10, 0x00, 0x00, 0x10, 0x03},
         true},
        {"a payload longer than what is kept", LongReply(), true},
        {"a start byte as command code", {0x02, 0x02, 0x00, 0x00, 0x02, 0x03}, true},
        {"bad sum", {0x02, 0x10, 0x00, 0x00, 0x11, 0x03}, false},
        {"wrong end byte", {0x02, 0x10, 0x00, 0x00, 0x10, 0x04}, false},
        {"cut short", {0x02, 0x10, 0x00, 0x00, 0x10}, false},
        {"payload shorter than announced", {0x02, 0x10, 0x00, 0x02, 0x01, 0x13, 0x03}, false},
        {"bad sum, then a good frame",
         {0x02, 0x10, 0x00, 0x00, 0x11, 0x02, 0x11, 0x00, 0x00, 0x11, 0x03},
         true},
        {"wrong end, then a good frame",
         {0x02, 0x10, 0x00, 0x00, 0x10, 0x00, 0x02, 0x11, 0x00, 0x00, 0x11, 0x03},
         true},
    };
    for (const ReplyCase& c : cases) {
        LoaderReplyParser parser;
        for (std::uint8_t b : c.bytes) {
            parser.feed(b);
        }
        EXPECT_EQ(parser.complete(), c.complete) << c.what;
    }
}

TEST(LoaderReplyParserTest, KeepsABoundedPrefixOfTheReplyAndIgnoresBytesAfterIt) {
    LoaderReplyParser parser;
    for (std::uint8_t b : LongReply()) {
        parser.feed(b);
    }
    ASSERT_TRUE(parser.complete());
    EXPECT_EQ(parser.command(), 0x7E);
    EXPECT_EQ(parser.length(), 300);
    EXPECT_EQ(parser.keptPayload().size(), LoaderReplyParser::kKeptPayload);
    // A second frame after a complete one does not disturb it.
    for (std::uint8_t b : Bytes{0x02, 0x10, 0x00, 0x00, 0x10, 0x03}) {
        parser.feed(b);
    }
    EXPECT_EQ(parser.command(), 0x7E);
}

}  // namespace
}  // namespace korvel
