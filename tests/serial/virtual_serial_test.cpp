#include <gtest/gtest.h>
#include <cerrno>

#include "serial/serial_error.h"
#include "serial/serial_port.h"
#include "serial/virtual_serial_device.h"
#include "tests/support/scripted_line_end.h"

namespace korvel {
namespace {

constexpr VirtualNs kMs = 1'000'000;

struct VirtualPort {
    explicit VirtualPort(VirtualSerialDevice::Options options = {}, int baud = 115200,
                         std::uint8_t flags = 0x11) {
        auto dev = std::make_unique<VirtualSerialDevice>(end, options);
        device = dev.get();
        port = std::make_unique<SerialPort>(std::move(dev), baud, flags);
    }
    test::ScriptedLineEnd end;
    VirtualSerialDevice* device = nullptr;
    std::unique_ptr<SerialPort> port;
};

TEST(LineFlagsTest, ParityComparesTheWholeByte) {
    EXPECT_EQ(DecodeLineFlags(9600, 0x11), (LineSettings{9600, Parity::None, StopBits::One}));
    EXPECT_EQ(DecodeLineFlags(9600, 0x00), (LineSettings{9600, Parity::None, StopBits::One}));
    EXPECT_EQ(DecodeLineFlags(9600, 0x01), (LineSettings{9600, Parity::None, StopBits::One}));
    EXPECT_EQ(DecodeLineFlags(9600, 0x02), (LineSettings{9600, Parity::Odd, StopBits::One}));
    EXPECT_EQ(DecodeLineFlags(9600, 0x04), (LineSettings{9600, Parity::Even, StopBits::One}));
    EXPECT_EQ(DecodeLineFlags(9600, 0x20), (LineSettings{9600, Parity::None, StopBits::Two}));
    EXPECT_EQ(DecodeLineFlags(9600, 0x30), (LineSettings{9600, Parity::None, StopBits::One}));
    EXPECT_EQ(DecodeLineFlags(9600, 0x22), (LineSettings{9600, Parity::None, StopBits::Two}));
}

TEST(VirtualSerialTest, WaitMsLastsAtLeastOneMillisecondMoreInTwoMillisecondSteps) {
    VirtualPort v;
    ASSERT_TRUE(v.port->open());
    for (unsigned ms : {0u, 1u, 2u, 199u, 200u}) {
        const std::uint32_t start = v.port->tickMs();
        v.port->waitMs(ms);
        const std::uint32_t elapsed = v.port->tickMs() - start;
        EXPECT_GE(elapsed, ms + 1) << ms;
        EXPECT_LE(elapsed, ms + 2) << ms;
    }
}

TEST(VirtualSerialTest, WaitMsSurvivesTheTickWrap) {
    VirtualSerialDevice::Options options;
    options.startTickMs = 0xFFFFFF00u;
    VirtualPort v(options);
    ASSERT_TRUE(v.port->open());
    v.port->waitMs(400);
    EXPECT_LT(v.port->tickMs(), 0x200u) << "the tick wrapped";
    EXPECT_GE(v.device->now(), 401 * kMs);
    EXPECT_LE(v.device->now(), 402 * kMs);
}

TEST(VirtualSerialTest, ReadReturnsWhatArrivedUpToCapacity) {
    VirtualPort v;
    ASSERT_TRUE(v.port->open());
    std::uint8_t buf[16];
    const VirtualNs before = v.device->now();
    EXPECT_EQ(v.port->read(buf, sizeof buf), 0);
    EXPECT_EQ(v.device->now() - before, kMs) << "a silent read lasts the 1 ms read time-out";

    v.end.send(v.device->now(), {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    EXPECT_EQ(v.port->read(buf, 4), 4);
    EXPECT_EQ(buf[3], 3);
    EXPECT_EQ(v.port->read(buf, sizeof buf), 6);
    EXPECT_EQ(buf[0], 4);
}

TEST(VirtualSerialTest, ReadAvailableNeverWaits) {
    VirtualPort v;
    ASSERT_TRUE(v.port->open());
    std::uint8_t buf[8];
    const VirtualNs before = v.device->now();
    v.end.send(before + kMs / 2, {'x'});
    EXPECT_EQ(v.port->readAvailable(buf, sizeof buf), 0);
    EXPECT_EQ(v.device->now(), before) << "not even for a byte half a millisecond away";
    v.port->waitMs(0);
    v.end.send(v.device->now(), {'y', 'z'});
    EXPECT_EQ(v.port->readAvailable(buf, 2), 2);
    EXPECT_EQ(std::string(buf, buf + 2), "xy");
    EXPECT_EQ(v.port->read(buf, sizeof buf), 1);
    EXPECT_EQ(buf[0], 'z');
}

TEST(VirtualSerialTest, ReadWaitsOnlyUntilTheFirstByteArrives) {
    VirtualPort v;
    ASSERT_TRUE(v.port->open());
    const VirtualNs at = v.device->now() + kMs / 4;
    v.end.send(at, {0x42});
    std::uint8_t b = 0;
    EXPECT_EQ(v.port->read(&b, 1), 1);
    EXPECT_EQ(b, 0x42);
    EXPECT_EQ(v.device->now(), at);
}

TEST(VirtualSerialTest, ReadWithinWakesAtTheFirstByteOrAtItsLimit) {
    VirtualPort v;
    ASSERT_TRUE(v.port->open());
    std::uint8_t buf[8];
    const VirtualNs start = v.device->now();
    EXPECT_EQ(v.port->readWithin(buf, sizeof buf, 50), 0);
    EXPECT_EQ(v.device->now() - start, 50 * kMs) << "a silent line: the whole wait, no more";

    const VirtualNs at = v.device->now() + 37 * kMs + kMs / 3;
    v.end.send(at, {'a', 'b'});
    v.end.send(at + 5 * kMs, {'c'});
    EXPECT_EQ(v.port->readWithin(buf, sizeof buf, 2000), 2);
    EXPECT_EQ(v.device->now(), at) << "woken by the first byte, not at the limit";
    EXPECT_EQ(std::string(buf, buf + 2), "ab");
    EXPECT_EQ(v.port->readWithin(buf, sizeof buf, 0), 0) << "a zero wait does not wait";
    EXPECT_EQ(v.port->readWithin(buf, sizeof buf, 5), 1);
    EXPECT_EQ(v.device->now(), at + 5 * kMs);
}

TEST(VirtualSerialTest, HostBytesTakeTheirLineTime) {
    VirtualPort v({}, 9600, 0x00);
    ASSERT_TRUE(v.port->open());
    const std::uint8_t data[3] = {'a', 'b', 'c'};
    const VirtualNs start = v.device->now();
    v.port->write(data, 3);
    ASSERT_EQ(v.end.hostBytes, (std::vector<std::uint8_t>{'a', 'b', 'c'}));
    // 10 bits at 9600 baud: 1041666 ns a character.
    EXPECT_EQ(v.end.hostTimes[0] - start, 1'041'666u);
    EXPECT_EQ(v.end.hostTimes[2] - start, 3 * 1'041'666u);
}

TEST(VirtualSerialTest, WireLogStampsBoardBytesWhenTheyCrossedNotWhenTheHostLooked) {
    std::vector<WireEvent> wire;
    VirtualSerialDevice::Options options;
    options.wireLog = &wire;
    VirtualPort v(options);
    ASSERT_TRUE(v.port->open());
    v.end.send(2 * kMs, {'a', 'b', 'c'}, kMs);
    v.end.send(9 * kMs, {'d'});
    // The host sleeps through all four and then reads them in one go.
    v.port->waitMs(20);
    std::uint8_t buf[8];
    ASSERT_EQ(v.port->read(buf, sizeof buf), 4);
    std::vector<VirtualNs> stamps;
    for (const WireEvent& e : wire) {
        if (e.kind == WireEvent::Kind::BoardByte) {
            stamps.push_back(e.at);
        }
    }
    EXPECT_EQ(stamps, (std::vector<VirtualNs>{2 * kMs, 3 * kMs, 4 * kMs, 9 * kMs}));
}

TEST(VirtualSerialTest, SetBaudRateWhileOpenDiscardsWhatWasReceived) {
    VirtualPort v;
    ASSERT_TRUE(v.port->open());
    v.end.send(v.device->now(), {1, 2, 3});
    v.port->setBaudRate(57600);
    EXPECT_EQ(v.device->lineSettings().baudRate, 57600);
    std::uint8_t buf[8];
    EXPECT_EQ(v.port->read(buf, sizeof buf), 0);
    ASSERT_FALSE(v.end.lineChanges.empty());
    EXPECT_EQ(v.end.lineChanges.back().baudRate, 57600);
}

TEST(VirtualSerialTest, OpenPurgesPendingInput) {
    VirtualPort v;
    v.end.send(0, {9, 9});
    ASSERT_TRUE(v.port->open());
    std::uint8_t buf[4];
    EXPECT_EQ(v.port->read(buf, sizeof buf), 0);
    EXPECT_TRUE(v.port->open()) << "a second open only purges";
}

TEST(VirtualSerialTest, BreakHoldsTheLineFor200Ms) {
    VirtualPort v;
    ASSERT_TRUE(v.port->open());
    v.port->sendBreak();
    ASSERT_EQ(v.end.breaks.size(), 2u);
    EXPECT_TRUE(v.end.breaks[0].second);
    EXPECT_FALSE(v.end.breaks[1].second);
    EXPECT_GE(v.end.breaks[1].first - v.end.breaks[0].first, 201 * kMs);
}

TEST(VirtualSerialTest, RefusedOpenReportsTheReasonAndAVanishedDeviceThrows) {
    VirtualSerialDevice::Options options;
    options.openFailure = OpenFailure{EBUSY, "Device or resource busy", false};
    VirtualPort refused(options);
    EXPECT_FALSE(refused.port->open());
    EXPECT_FALSE(refused.port->isOpen());
    EXPECT_EQ(refused.port->lastOpenFailure().code, EBUSY);

    VirtualPort v;
    ASSERT_TRUE(v.port->open());
    v.device->failFromNowOn(EIO);
    std::uint8_t b = 0;
    try {
        v.port->read(&b, 1);
        FAIL() << "a read on a vanished device must throw";
    } catch (const SerialError& e) {
        EXPECT_EQ(e.code(), EIO);
    }
    EXPECT_THROW(v.port->write(&b, 1), SerialError);
    EXPECT_THROW(v.port->readWithin(&b, 1, 10), SerialError);
}

}  // namespace
}  // namespace korvel
