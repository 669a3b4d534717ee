#include "procedures/controller_unit/framed_link.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <deque>

#include "serial/serial_error.h"
#include "serial/virtual_serial_device.h"
#include "tests/support/scripted_line_end.h"

namespace korvel {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr VirtualNs kMs = 1'000'000;

const LinkResult kOk{LinkOutcome::Ok, 0};
const LinkResult kNoReply{LinkOutcome::NoReply, 0};
const LinkResult kBadReply{LinkOutcome::BadReply, 0};
const LinkResult kAborted{LinkOutcome::Aborted, 0};
LinkResult Refused(std::uint8_t status) {
    return {LinkOutcome::Refused, status};
}

// The host's requests, cut into frames by their length field, each answered
// with the next queued reply (an empty reply is silence).
class FramedLinkTest : public ::testing::Test {
  protected:
    FramedLinkTest() : link(device()) {
        line.responder = [this](VirtualNs at, std::uint8_t byte) {
            partial.push_back(byte);
            if (partial.size() < 6 || partial.size() < 9u + (partial[4] << 8 | partial[5])) {
                return;
            }
            requests.push_back(partial);
            partial.clear();
            if (onRequest) {
                onRequest();
            }
            if (!replies.empty()) {
                line.send(at + kMs, replies.front());
                if (replies.size() > 1) {
                    replies.pop_front();
                }
            }
        };
        EXPECT_TRUE(link.port().open());
        link.setAddress(0x22);
    }

    std::unique_ptr<SerialDevice> device(std::uint32_t startTickMs = 1000) {
        VirtualSerialDevice::Options options;
        options.startTickMs = startTickMs;
        auto d = std::make_unique<VirtualSerialDevice>(line, options);
        dev = d.get();
        return d;
    }

    double elapsedMs(VirtualNs since = 0) const {
        return static_cast<double>(dev->now() - since) / kMs;
    }

    test::ScriptedLineEnd line;
    VirtualSerialDevice* dev = nullptr;
    FramedLink link;
    Bytes partial;
    std::vector<Bytes> requests;
    std::deque<Bytes> replies;  // the last one answers every later request
    std::function<void()> onRequest;
};

const Bytes kPingFrame = {0x02, 0x22, 0xA7, 0x10, 0x00, 0x00, 0x00, 0x10, 0x03};

TEST_F(FramedLinkTest, RequestsCarryAddressCheckLengthAndSum) {
    replies = {kPingFrame};
    EXPECT_EQ(link.Ping(), kOk);
    replies = {{0x02, 0x22, 0xA7, 0x18, 0x00, 0x00, 0x00, 0x18, 0x03}};
    EXPECT_EQ(link.ChangeBaudRate(57600), kOk);
    replies = {{0x02, 0x22, 0xA7, 0x20, 0x00, 0x00, 0x00, 0x20, 0x03}};
    EXPECT_EQ(link.Erase(0x8400), kOk);
    link.setAddress(0x32);
    replies = {{}};
    link.setAttemptsOnTimeout(1);
    link.Reboot();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0], kPingFrame);
    EXPECT_EQ(requests[1], (Bytes{0x02, 0x22, 0xA7, 0x18, 0x00, 0x04, 0x00, 0x00, 0x00, 0xE1, 0x00,
                                  0xFD, 0x03}));
    EXPECT_EQ(requests[2], (Bytes{0x02, 0x22, 0xA7, 0x20, 0x00, 0x04, 0x00, 0x00, 0x00, 0x84, 0x00,
                                  0xA8, 0x03}));
    EXPECT_EQ(requests[3], (Bytes{0x02, 0x32, 0xB7, 0x63, 0x00, 0x00, 0x00, 0x63, 0x03}));
}

TEST_F(FramedLinkTest, WriteBlockSendsAddressAndExactlyOneKilobyte) {
    const Bytes data(1024, 0x01);
    replies = {{0x02, 0x22, 0xA7, 0x21, 0x00, 0x00, 0x00, 0x21, 0x03}};
    EXPECT_EQ(link.WriteBlock(0x8000, data.data()), kOk);
    ASSERT_EQ(requests.size(), 1u);
    Bytes expected = {0x02, 0x22, 0xA7, 0x21, 0x04, 0x04, 0x00, 0x00, 0x00, 0x80, 0x00};
    expected.insert(expected.end(), 1024, 0x01);
    expected.insert(expected.end(), {0xA9, 0x03});  // 21 + 04 + 04 + 80 + 1024 x 01
    EXPECT_EQ(requests[0], expected);
}

TEST_F(FramedLinkTest, StatusBytesDecideRetries) {
    const Bytes busy = {0x02, 0x22, 0xA7, 0x10, 0x00, 0x00, 0xFF, 0x0F, 0x03};
    struct Case {
        const char* what;
        std::deque<Bytes> replies;
        std::uint16_t attemptsOnBusy;
        LinkResult result;
        std::size_t requests;
    };
    const Case cases[] = {
        {"a refusal comes back at once, without a second attempt",
         {{0x02, 0x22, 0xA7, 0x10, 0x00, 0x00, 0x05, 0x15, 0x03}},
         1,
         Refused(0x05),
         1},
        {"busy is the result after one attempt by default", {busy}, 1, Refused(0xFF), 1},
        {"busy is asked again when allowed", {busy, kPingFrame}, 3, kOk, 2},
        // A unit status 0x11 is the unit's answer, not the host's silence.
        {"status 0x11 is a refusal",
         {{0x02, 0x22, 0xA7, 0x10, 0x00, 0x00, 0x11, 0x21, 0x03}},
         1,
         Refused(0x11),
         1},
        {"silence uses every attempt", {{}}, 1, kNoReply, 3},
        {"a payload where the command expects none",
         {{0x02, 0x22, 0xA7, 0x10, 0x00, 0x01, 0x00, 0x41, 0x52, 0x03}},
         1,
         kBadReply,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        requests.clear();
        replies = c.replies;
        link.setAttemptsOnBusy(c.attemptsOnBusy);
        EXPECT_EQ(link.Ping(), c.result);
        EXPECT_EQ(requests.size(), c.requests);
        for (const Bytes& request : requests) {
            EXPECT_EQ(request, kPingFrame);
        }
    }
}

TEST_F(FramedLinkTest, SilenceTimesOutOnEveryAttempt) {
    EXPECT_EQ(link.Ping(), kNoReply);
    EXPECT_EQ(requests.size(), 3u);
    EXPECT_GE(elapsedMs(), 3 * 3500.0);
    EXPECT_LT(elapsedMs(), 3 * 3500.0 + 30);
}

TEST_F(FramedLinkTest, TimeOutAcrossTheTickWrapLastsItsLength) {
    FramedLink wrapping(device(0xFFFFFFFFu - 1000));
    ASSERT_TRUE(wrapping.port().open());
    wrapping.setAttemptsOnTimeout(1);
    EXPECT_EQ(wrapping.Ping(), kNoReply);
    EXPECT_GE(elapsedMs(), 3500.0);
    EXPECT_LT(elapsedMs(), 3510.0);
}

TEST_F(FramedLinkTest, MalformedRepliesAreIgnored) {
    link.setAttemptsOnTimeout(1);
    const std::vector<Bytes> bad = {
        {0x02, 0x22, 0xA7, 0x11, 0x00, 0x00, 0x00, 0x11, 0x03},  // reply to another command
        {0x02, 0x23, 0xA6, 0x10, 0x00, 0x00, 0x00, 0x10, 0x03},  // another unit
        {0x02, 0x22, 0xA7, 0x10, 0x00, 0x00, 0x00, 0x11, 0x03},  // checksum
        {0x02, 0x22, 0xA7, 0x10, 0x00, 0x00, 0x00, 0x10, 0x04},  // end byte
    };
    for (const Bytes& reply : bad) {
        replies = {reply};
        EXPECT_EQ(link.Ping(), kNoReply);
    }
    // A stray byte anywhere from the start byte to the status byte drops the frame.
    for (std::size_t at = 1; at <= 6; ++at) {
        SCOPED_TRACE(at);
        Bytes reply = kPingFrame;
        reply.insert(reply.begin() + static_cast<std::ptrdiff_t>(at), 0x55);
        replies = {reply};
        EXPECT_EQ(link.Ping(), kNoReply);
        if (at <= 3) {
            // ...and the parser is back at the start for the next frame.
            reply.insert(reply.end(), kPingFrame.begin(), kPingFrame.end());
            replies = {reply};
            EXPECT_EQ(link.Ping(), kOk);
        }
    }
}

TEST_F(FramedLinkTest, ReplyBufferTakesAtMost2057Bytes) {
    auto reply = [](std::size_t n) {
        Bytes frame = {
            0x02, 0x22, 0xA7, 0x30, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n),
            0x00};
        frame.insert(frame.end(), n, 0x07);
        frame.push_back(static_cast<std::uint8_t>(0x30 + (n >> 8) + n + 7 * n));
        frame.push_back(0x03);
        return frame;
    };
    link.setAttemptsOnTimeout(1);
    replies = {reply(2057)};
    EXPECT_EQ(link.Transact(0x30, nullptr, 0), kOk);
    EXPECT_EQ(link.replyLength(), 2057);
    EXPECT_EQ(link.replyPayload()[2056], 0x07);
    replies = {reply(2058)};
    EXPECT_EQ(link.Transact(0x30, nullptr, 0), kNoReply);
    replies = {reply(0xFFFF)};
    EXPECT_EQ(link.Transact(0x30, nullptr, 0), kNoReply);
    EXPECT_EQ(link.replyLength(), 0);
}

TEST_F(FramedLinkTest, PingWithinUsesShortAttemptsAndRestoresTheDefaults) {
    EXPECT_EQ(link.PingWithin(2000, 100), kNoReply);
    ASSERT_EQ(requests.size(), 20u);
    EXPECT_GE(elapsedMs(), 2000.0);
    EXPECT_LT(elapsedMs(), 2100.0);
    // Each ping waits its 100 ms before the next one goes out.
    for (std::size_t i = 9; i < line.hostTimes.size(); i += 9) {
        EXPECT_GE(line.hostTimes[i] - line.hostTimes[i - 9], 100 * kMs);
        EXPECT_LT(line.hostTimes[i] - line.hostTimes[i - 9], 106 * kMs);
    }
    EXPECT_EQ(link.replyTimeoutMs(), 3500u);
    EXPECT_EQ(link.attemptsOnTimeout(), 3);

    requests.clear();
    EXPECT_EQ(link.PingWithin(100, 100), kNoReply);
    EXPECT_EQ(requests.size(), 1u);

    // Answered on the fifth ping; the fields come back after a success too.
    requests.clear();
    replies = {{}, {}, {}, {}, kPingFrame};
    EXPECT_EQ(link.PingWithin(2000, 100), kOk);
    EXPECT_EQ(requests.size(), 5u);
    EXPECT_EQ(link.replyTimeoutMs(), 3500u);
    EXPECT_EQ(link.attemptsOnTimeout(), 3);

    // Steps under 10 ms are raised to 10 ms.
    requests.clear();
    replies = {{}};
    const VirtualNs start = dev->now();
    EXPECT_EQ(link.PingWithin(50, 1), kNoReply);
    EXPECT_EQ(requests.size(), 5u);
    EXPECT_GE(elapsedMs(start), 50.0);
}

TEST_F(FramedLinkTest, LinkAbortEndsTheWaitWithoutFurtherAttempts) {
    // An abort left over from before the transaction is cleared by it.
    link.RequestLinkAbort();
    replies = {kPingFrame};
    EXPECT_EQ(link.Ping(), kOk);

    requests.clear();
    replies = {{}};
    onRequest = [this] { link.RequestLinkAbort(); };
    const VirtualNs start = dev->now();
    EXPECT_EQ(link.Ping(), kAborted);
    EXPECT_EQ(requests.size(), 1u);
    EXPECT_LT(elapsedMs(start), 10.0);
}

TEST_F(FramedLinkTest, ReadInfoSplitsThreeLines) {
    struct Case {
        std::string payload;
        LinkResult result;
        LoaderInfo fields;
    };
    const std::string thirty = "0123456789ABCDEFGHIJKLMNOPQRST";
    const Case cases[] = {
        {"A\nB\nC", kOk, {"A", "B", "C"}},
        {"A\r\nB\r\nC", kBadReply, {}},
        {"A\nB", kBadReply, {}},
        {"", kBadReply, {}},
        {"A\rB\rC\r", kOk, {"A", "B", "C"}},
        {"A\n\nC", kOk, {"A", "", "C"}},
        {thirty + "\nC", kOk, {"0123456789ABCDEFGHIJKLMN", "PQRST", "C"}},
        {"A\nB\nC\nD", kBadReply, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        Bytes frame = {0x02, 0x22, 0xA7, 0x11, 0x00, static_cast<std::uint8_t>(c.payload.size()),
                       0x00};
        std::uint8_t sum = static_cast<std::uint8_t>(0x11 + c.payload.size());
        for (char ch : c.payload) {
            frame.push_back(static_cast<std::uint8_t>(ch));
            sum = static_cast<std::uint8_t>(sum + ch);
        }
        frame.insert(frame.end(), {sum, 0x03});
        replies = {frame};
        LoaderInfo info{"x", "y", "z"};
        EXPECT_EQ(link.ReadInfo(info), c.result);
        EXPECT_EQ(info.field1, c.fields.field1);
        EXPECT_EQ(info.field2, c.fields.field2);
        EXPECT_EQ(info.field3, c.fields.field3);
    }
    replies = {{0x02, 0x22, 0xA7, 0x11, 0x00, 0x00, 0x05, 0x16, 0x03}};
    LoaderInfo info;
    EXPECT_EQ(link.ReadInfo(info), Refused(0x05));
}

TEST_F(FramedLinkTest, PortFailurePassesThrough) {
    dev->failFromNowOn(EIO);
    EXPECT_THROW(link.Ping(), SerialError);
}

}  // namespace
}  // namespace korvel
