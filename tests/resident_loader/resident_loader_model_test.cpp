#include "sim/resident_loader_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "serial/serial_port.h"
#include "serial/virtual_serial_device.h"

namespace korvel::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kConnect = {0x02, 0x10, 0x00, 0x00, 0x10, 0x03};
const Bytes kConnectOk = {0x02, 0x10, 0x00, 0x01, 0x00, 0x11, 0x03};
const Bytes kPrepare = {0x02, 0x16, 0x00, 0x00, 0x16, 0x03};
const Bytes kRestart = {0x02, 0x11, 0x00, 0x00, 0x11, 0x03};
const Bytes kRestartOk = {0x02, 0x11, 0x00, 0x01, 0x00, 0x12, 0x03};
const Bytes kErase98304 = {0x02, 0x20, 0x00, 0x04, 0x00, 0x01, 0x80, 0x00, 0xA5, 0x03};
const Bytes kEraseOk = {0x02, 0x20, 0x00, 0x01, 0x00, 0x21, 0x03};
const Bytes kEraseNotConnected = {0x02, 0x20, 0x00, 0x01, 0x01, 0x22, 0x03};
const Bytes kEraseBadAddress = {0x02, 0x20, 0x00, 0x01, 0x03, 0x24, 0x03};

// A block request, framed here from the board's documentation: the sum is
// the low byte of everything between the start byte and the sum.
Bytes Block(std::uint8_t command, std::uint32_t where, std::uint8_t fill) {
    Bytes f = {0x02,
               command,
               0x04,
               0x04,
               static_cast<std::uint8_t>(where >> 24),
               static_cast<std::uint8_t>(where >> 16),
               static_cast<std::uint8_t>(where >> 8),
               static_cast<std::uint8_t>(where)};
    f.insert(f.end(), 1024, fill);
    unsigned sum = 0;
    for (std::size_t i = 1; i < f.size(); ++i) {
        sum += f[i];
    }
    f.push_back(static_cast<std::uint8_t>(sum));
    f.push_back(0x03);
    return f;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Reply(std::uint8_t command, std::uint8_t status) {
    return {0x02, command, 0x00, 0x01, status, static_cast<std::uint8_t>(command + 1 + status),
            0x03};
}

// The host's side of a line to the model, at the loader's 57600 baud.
struct Host {
    explicit Host(ResidentLoaderFaults faults = {})
        : model(faults), port(std::make_unique<VirtualSerialDevice>(model), 57600, 0x00) {
        EXPECT_TRUE(port.open());
    }

    // Sends a frame and returns what comes back within `ms`; `ticks` holds
    // the tick at which each byte was read.
    Bytes exchange(const Bytes& frame, unsigned ms = 3000) {
        port.write(frame.data(), static_cast<std::uint16_t>(frame.size()));
        Bytes got;
        ticks.clear();
        const std::uint32_t start = port.tickMs();
        while (port.tickMs() - start < ms) {
            std::uint8_t b = 0;
            if (port.read(&b, 1) == 1) {
                got.push_back(b);
                ticks.push_back(port.tickMs());
            }
        }
        return got;
    }

    ResidentLoaderModel model;
    SerialPort port;
    std::vector<std::uint32_t> ticks;
};

TEST(ResidentLoaderModelTest, AnswersEveryRequestWithOneStatusFrame) {
    Host host;
    EXPECT_EQ(host.exchange(kErase98304), kEraseNotConnected) << "refused before connect";
    EXPECT_EQ(host.exchange(kConnect), kConnectOk);
    EXPECT_EQ(host.exchange(kErase98304), kEraseOk);
    // 98304 + 1024 is no sector start: 0x20 + 0x04 + 0x01 + 0x84 = 0xA9.
    EXPECT_EQ(host.exchange({0x02, 0x20, 0x00, 0x04, 0x00, 0x01, 0x84, 0x00, 0xA9, 0x03}),
              kEraseBadAddress);
    EXPECT_EQ(host.exchange({0x02, 0x55, 0x00, 0x00, 0x55, 0x03}), Reply(0x55, 0x04));
    EXPECT_EQ(host.exchange({0x02, 0x10, 0x00, 0x01, 0x07, 0x18, 0x03}), Reply(0x10, 0x02))
        << "connect takes no payload";
    EXPECT_EQ(host.exchange(Block(0x21, 0x80000, 0x00)), Reply(0x21, 0x03)) << "past the flash";
    EXPECT_EQ(host.exchange(Block(0x21, 0x17C00, 0x00)), Reply(0x21, 0x03)) << "the loader";
    EXPECT_EQ(host.exchange(Block(0x17, 0x68000, 0x00)), Reply(0x17, 0x03)) << "offset too far";
    EXPECT_EQ(host.exchange(kRestart), kRestartOk);
    EXPECT_EQ(host.model.restarts(), 1);
    EXPECT_EQ(host.exchange(kErase98304), kEraseNotConnected) << "restart ends the session";
}

TEST(ResidentLoaderModelTest, DropsMalformedFramesAndTakesTheNextGoodOne) {
    Host host;
    EXPECT_TRUE(host.exchange({0x02, 0x10, 0x00, 0x00, 0x11, 0x03}).empty()) << "bad sum";
    EXPECT_TRUE(host.exchange({0x02, 0x10, 0x00, 0x00, 0x10, 0x02}).empty()) << "no end byte";
    // Announces more than the 1028-byte buffer: given up at once.
    EXPECT_TRUE(host.exchange({0x02, 0x21, 0x04, 0x05}).empty()) << "too long";
    EXPECT_EQ(host.model.droppedFrames(), 3);
    EXPECT_EQ(host.exchange(Concat({0xFF, 0x00}, kConnect)), kConnectOk) << "noise first";
    // A frame left unfinished for over a second is given up; the next starts afresh.
    EXPECT_TRUE(host.exchange({0x02, 0x20, 0x00}, 1500).empty());
    EXPECT_EQ(host.exchange(kConnect), kConnectOk);
    // At another baud rate the board hears only noise.
    host.port.setBaudRate(38400);
    EXPECT_TRUE(host.exchange(kConnect).empty());
    EXPECT_EQ(host.model.noiseBytes(), 6);
}

TEST(ResidentLoaderModelTest, KeepsAFlashThatOnlyAnEraseSetsBackToFF) {
    Host host;
    const auto area = host.model.imageArea();
    auto allFF = [](auto first, auto last) {
        return std::all_of(first, last, [](std::uint8_t b) { return b == 0xFF; });
    };
    EXPECT_FALSE(allFF(area.begin(), area.begin() + 32768)) << "starts with older firmware";
    EXPECT_EQ(host.exchange(kConnect), kConnectOk);
    EXPECT_EQ(host.exchange(kErase98304), kEraseOk);
    EXPECT_TRUE(allFF(area.begin(), area.begin() + 32768));
    EXPECT_EQ(host.exchange(Block(0x21, 98304 + 1024, 0x3C)), Reply(0x21, 0x00));
    EXPECT_EQ(Bytes(area.begin() + 1023, area.begin() + 2049),
              Concat({0xFF}, Concat(Bytes(1024, 0x3C), {0xFF})));
    EXPECT_TRUE(host.model.unerasedWrites().empty());
    // Written again without an erase: flash only clears bits, and it is noted.
    EXPECT_EQ(host.exchange(Block(0x21, 98304 + 1024, 0xC3)), Reply(0x21, 0x00));
    EXPECT_EQ(area[1024], 0x00);
    EXPECT_EQ(host.exchange(Block(0x21, 131072, 0xFF)), Reply(0x21, 0x00)) << "never erased";
    EXPECT_EQ(host.model.unerasedWrites(), (std::vector<std::uint32_t>{98304 + 1024, 131072}));
    // Prepare erases the whole image area; writes by offset land in it.
    EXPECT_EQ(host.exchange(kPrepare), Reply(0x16, 0x00));
    EXPECT_TRUE(allFF(area.begin(), area.end()));
    EXPECT_EQ(host.exchange(Block(0x17, 2048, 0x5A)), Reply(0x17, 0x00));
    EXPECT_EQ(Bytes(area.begin() + 2047, area.begin() + 3073),
              Concat({0xFF}, Concat(Bytes(1024, 0x5A), {0xFF})));
    EXPECT_EQ(host.model.unerasedWrites().size(), 2u);
}

TEST(ResidentLoaderModelTest, FaultsShapeTheReplies) {
    ResidentLoaderFaults faults;
    std::string error;
    ASSERT_TRUE(ParseResidentLoaderFault("first-byte-delay=2500", faults, error));
    Host late(faults);
    const std::uint32_t sent = late.port.tickMs();
    EXPECT_EQ(late.exchange(kConnect), kConnectOk);
    EXPECT_GE(late.ticks.front() - sent, 2500u);
    EXPECT_LT(late.ticks.back() - sent, 2510u);

    faults = {};
    ASSERT_TRUE(ParseResidentLoaderFault("reply-gap=300", faults, error));
    Host gap(faults);
    EXPECT_EQ(gap.exchange(kConnect), kConnectOk);
    EXPECT_GE(gap.ticks[1] - gap.ticks[0], 300u);
    EXPECT_LT(gap.ticks[6] - gap.ticks[1], 5u);

    faults = {};
    ASSERT_TRUE(ParseResidentLoaderFault("bad-checksum=2", faults, error));
    Host garbled(faults);
    EXPECT_EQ(garbled.exchange(kConnect), kConnectOk);
    EXPECT_EQ(garbled.exchange(kConnect), (Bytes{0x02, 0x10, 0x00, 0x01, 0x00, 0xEE, 0x03}));
    EXPECT_EQ(garbled.exchange(kConnect), kConnectOk);

    for (const char* bad : {"bogus", "no-reply=0", "no-reply", "reply-gap=x", "silent=1",
                            "first-byte-delay=-5", "no-reply=99999999999"}) {
        error.clear();
        EXPECT_FALSE(ParseResidentLoaderFault(bad, faults, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

}  // namespace
}  // namespace korvel::sim
