// The POSIX device on a real pty pair: what a USB adapter looks like to us.
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <chrono>
#include <thread>

#include "serial/port_resolver.h"
#include "serial/posix_serial_device.h"
#include "serial/serial_error.h"
#include "serial/serial_port.h"

namespace korvel {
namespace {

class PtyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[256] = {};
        ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
        path = name;
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        // Keep the slave open only through the device under test.
        ::close(slave);
        slave = -1;
    }
    void TearDown() override {
        if (master >= 0)
            ::close(master);
    }
    void boardWrites(const std::string& text) {
        ASSERT_EQ(::write(master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        // Let the pty move the bytes over.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::string boardReads() {
        std::string got;
        char buf[256];
        for (int i = 0; i < 20; ++i) {
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0)
                got.append(buf, static_cast<std::size_t>(n));
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (!got.empty() && n <= 0)
                break;
        }
        return got;
    }

    int master = -1;
    int slave = -1;
    std::string path;
};

TEST_F(PtyTest, SilentReadReturnsNothingAfterAboutOneMillisecond) {
    SerialPort port(std::make_unique<PosixSerialDevice>(path), 115200, 0x11);
    ASSERT_TRUE(port.open());
    std::uint8_t buf[8];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.read(buf, sizeof buf), 0);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(50));
}

TEST_F(PtyTest, ReadHonoursCapacityAndLeavesTheRest) {
    SerialPort port(std::make_unique<PosixSerialDevice>(path), 115200, 0x11);
    ASSERT_TRUE(port.open());
    boardWrites("0123456789");
    std::uint8_t buf[16] = {};
    EXPECT_EQ(port.read(buf, 4), 4);
    EXPECT_EQ(std::string(buf, buf + 4), "0123");
    EXPECT_EQ(port.read(buf, sizeof buf), 6);
    EXPECT_EQ(std::string(buf, buf + 6), "456789");
}

TEST_F(PtyTest, ReadAvailableTakesWhatIsThereAndNothingMore) {
    SerialPort port(std::make_unique<PosixSerialDevice>(path), 115200, 0x11);
    ASSERT_TRUE(port.open());
    std::uint8_t buf[16] = {};
    EXPECT_EQ(port.readAvailable(buf, sizeof buf), 0);
    boardWrites("abcdef");
    EXPECT_EQ(port.readAvailable(buf, 4), 4);
    EXPECT_EQ(std::string(buf, buf + 4), "abcd");
    EXPECT_EQ(port.readAvailable(buf, sizeof buf), 2);
    EXPECT_EQ(std::string(buf, buf + 2), "ef");
    EXPECT_EQ(port.readAvailable(buf, sizeof buf), 0);
}

TEST_F(PtyTest, BytesPassUntranslatedBothWays) {
    SerialPort port(std::make_unique<PosixSerialDevice>(path), 38400, 0x00);
    ASSERT_TRUE(port.open());
    // CR, LF, XON, XOFF, ^C and 0xFF must cross as they are: a raw line.
    const std::string raw = std::string("\r\n\x11\x13\x03\xff\x00", 7);
    port.write(reinterpret_cast<const std::uint8_t*>(raw.data()),
               static_cast<std::uint16_t>(raw.size()));
    EXPECT_EQ(boardReads(), raw);
    boardWrites(raw);
    std::uint8_t buf[16];
    EXPECT_EQ(port.read(buf, sizeof buf), raw.size());
    EXPECT_EQ(std::string(buf, buf + raw.size()), raw);
}

TEST_F(PtyTest, PurgeAndBaudChangeDiscardInput) {
    SerialPort port(std::make_unique<PosixSerialDevice>(path), 115200, 0x11);
    ASSERT_TRUE(port.open());
    boardWrites("stale");
    port.setBaudRate(57600);
    std::uint8_t buf[16];
    EXPECT_EQ(port.read(buf, sizeof buf), 0);
    boardWrites("again");
    port.discardInput();
    EXPECT_EQ(port.read(buf, sizeof buf), 0);
}

TEST_F(PtyTest, PtyHasNoModemLinesOrBreakAndThatIsNoFault) {
    SerialPort port(std::make_unique<PosixSerialDevice>(path), 115200, 0x00);
    ASSERT_TRUE(port.open()) << port.lastOpenFailure().text;
    EXPECT_NO_THROW(port.setModemLines(true, true));
    EXPECT_NO_THROW(port.setModemLines(false, true));
    EXPECT_NO_THROW(port.sendBreak());
}

TEST(PosixSerialTest, TerminalThatRefusesModemLinesAndIsNoPtyPortFailsToOpen) {
    // A pty's master side is a terminal with neither modem lines nor a
    // pty's port number: what a real port that refuses DTR and RTS looks like.
    SerialPort port(std::make_unique<PosixSerialDevice>("/dev/ptmx"), 38400, 0x00);
    EXPECT_FALSE(port.open());
    EXPECT_EQ(port.lastOpenFailure().code, ENOTTY);
    EXPECT_NE(port.lastOpenFailure().text.find("cannot configure the port"), std::string::npos)
        << port.lastOpenFailure().text;
    EXPECT_FALSE(port.isOpen());
}

TEST_F(PtyTest, NonStandardBaudRateIsAccepted) {
    SerialPort port(std::make_unique<PosixSerialDevice>(path), 12345, 0x00);
    EXPECT_TRUE(port.open());
    port.setBaudRate(250000);
}

TEST_F(PtyTest, WaitMsNeverEndsEarly) {
    SerialPort port(std::make_unique<PosixSerialDevice>(path), 115200, 0x11);
    ASSERT_TRUE(port.open());
    const std::uint32_t start = port.tickMs();
    port.waitMs(200);
    EXPECT_GE(port.tickMs() - start, 201u);
}

TEST_F(PtyTest, SecondOpenOfAPortInUseIsRefused) {
    SerialPort first(std::make_unique<PosixSerialDevice>(path), 115200, 0x11);
    ASSERT_TRUE(first.open());
    SerialPort second(std::make_unique<PosixSerialDevice>(path), 115200, 0x11);
    EXPECT_FALSE(second.open());
    EXPECT_FALSE(second.lastOpenFailure().text.empty());
}

TEST_F(PtyTest, ReadWithinSleepsUntilTheFirstByteOrItsLimit) {
    SerialPort port(std::make_unique<PosixSerialDevice>(path), 115200, 0x11);
    ASSERT_TRUE(port.open());
    std::uint8_t buf[8];
    const std::uint32_t start = port.tickMs();
    EXPECT_EQ(port.readWithin(buf, sizeof buf, 60), 0);
    EXPECT_GE(port.tickMs() - start, 60u) << "a silent line: never shorter than asked";
    std::thread board([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        ASSERT_EQ(::write(master, "ok", 2), 2);
    });
    std::uint16_t got = 0;
    const std::uint32_t waitStart = port.tickMs();
    for (int i = 0; i < 2 && got < 2; ++i) {
        got += port.readWithin(buf + got, static_cast<std::uint16_t>(sizeof buf - got), 10000);
    }
    board.join();
    EXPECT_EQ(std::string(buf, buf + got), "ok");
    EXPECT_LT(port.tickMs() - waitStart, 5000u) << "the bytes end the wait, not its limit";
}

TEST_F(PtyTest, ClosedFarEndMakesReadThrow) {
    SerialPort port(std::make_unique<PosixSerialDevice>(path), 115200, 0x11);
    ASSERT_TRUE(port.open());
    ::close(master);
    master = -1;
    std::uint8_t buf[4];
    EXPECT_THROW(port.read(buf, sizeof buf), SerialError);
    EXPECT_THROW(port.readWithin(buf, sizeof buf, 1000), SerialError);
}

TEST(PosixSerialTest, MissingDeviceGivesFalseWithTheSystemReason) {
    PortResolver::instance().mapPath(77, "/dev/korvel-no-such-device");
    SerialPort port(77, 115200, 0x11);
    EXPECT_FALSE(port.open());
    EXPECT_EQ(port.lastOpenFailure().code, ENOENT);
    EXPECT_EQ(port.devicePath(), "/dev/korvel-no-such-device");
    EXPECT_EQ(port.name(), "COM77");
    PortResolver::instance().clear();
}

TEST(PortResolverTest, DefaultPathsFollowTheComNumber) {
    EXPECT_EQ(PortResolver::instance().describe(1), "/dev/ttyS0");
    EXPECT_EQ(PortResolver::instance().describe(12), "/dev/ttyS11");
}

}  // namespace
}  // namespace korvel
