// The Windows serial device: its configuration of the port, and a real
// COM port pair when the test run provides one (KORVEL_TEST_COM_PAIR="21,22",
// set by tests/windows/wine-run.sh when socat joins two ports).
#include "serial/win32_serial_device.h"
#include "serial/win32_comm_state.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "serial/port_resolver.h"
#include "serial/serial_error.h"
#include "serial/serial_port.h"

namespace korvel {
namespace {

// A driver state with every handshake on, as another program may leave it.
DCB HandshakingState() {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = 9600;
    dcb.ByteSize = 7;
    dcb.Parity = MARKPARITY;
    dcb.StopBits = ONE5STOPBITS;
    dcb.fParity = TRUE;
    dcb.fOutxCtsFlow = TRUE;
    dcb.fOutxDsrFlow = TRUE;
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    dcb.fDsrSensitivity = TRUE;
    dcb.fOutX = TRUE;
    dcb.fInX = TRUE;
    dcb.fErrorChar = TRUE;
    dcb.fNull = TRUE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fAbortOnError = TRUE;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = 100;
    return dcb;
}

TEST(Win32CommStateTest, LineFlagsGiveDataBitsParityAndStopBits) {
    struct Case {
        std::uint8_t flags;
        BYTE parity;
        BYTE stopBits;
    };
    const Case cases[] = {
        {0x11, NOPARITY, ONESTOPBIT},  {0x00, NOPARITY, ONESTOPBIT},
        {0x02, ODDPARITY, ONESTOPBIT}, {0x04, EVENPARITY, ONESTOPBIT},
        {0x20, NOPARITY, TWOSTOPBITS}, {0x30, NOPARITY, ONESTOPBIT},
        {0x12, NOPARITY, ONESTOPBIT},  // parity compares the whole byte
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "lineFlags 0x" << std::hex << int{c.flags});
        const DCB dcb = MakeCommState(HandshakingState(), DecodeLineFlags(38400, c.flags));
        EXPECT_EQ(dcb.BaudRate, 38400u);
        EXPECT_EQ(dcb.ByteSize, 8);
        EXPECT_EQ(dcb.Parity, c.parity);
        EXPECT_EQ(dcb.fParity, c.parity != NOPARITY ? 1u : 0u);
        EXPECT_EQ(dcb.StopBits, c.stopBits);
    }
}

TEST(Win32CommStateTest, NoFlowControlOfAnyKindAndModemLinesInactive) {
    const DCB dcb = MakeCommState(HandshakingState(), DecodeLineFlags(12345, 0x00));
    EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
    EXPECT_EQ(dcb.BaudRate, 12345u) << "any positive rate goes to the driver as is";
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    EXPECT_EQ(dcb.fDsrSensitivity, 0u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fErrorChar, 0u);
    EXPECT_EQ(dcb.fNull, 0u) << "zero bytes are data";
    EXPECT_EQ(dcb.fAbortOnError, 0u);
    // What the line settings do not decide stays as the driver had it.
    EXPECT_EQ(dcb.XonLim, 100);
}

TEST(Win32CommStateTest, TimeoutsMakeReadsShortPollsAndBoundWrites) {
    const COMMTIMEOUTS t = MakeCommTimeouts();
    EXPECT_EQ(t.ReadIntervalTimeout, 1u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 1u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 100u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
}

TEST(Win32PortTest, PortNumbersOpenThroughTheDevicePrefix) {
    PortResolver::instance().clear();
    EXPECT_EQ(SerialPort(12, 57600, 0x11).devicePath(), R"(\\.\COM12)");
    EXPECT_EQ(SerialPort(3, 57600, 0x11).devicePath(), R"(\\.\COM3)");
    const auto device = PortResolver::instance().makeDevice(12);
    ASSERT_NE(dynamic_cast<Win32SerialDevice*>(device.get()), nullptr);
    EXPECT_EQ(device->path(), R"(\\.\COM12)");
}

TEST(Win32PortTest, MissingPortFailsToOpenWithTheSystemsReason) {
    PortResolver::instance().clear();
    SerialPort port(250, 38400, 0x00);
    bool opened = true;
    EXPECT_NO_THROW(opened = port.open());
    EXPECT_FALSE(opened);
    EXPECT_FALSE(port.isOpen());
    const OpenFailure& failure = port.lastOpenFailure();
    EXPECT_NE(failure.code, 0);
    EXPECT_FALSE(failure.text.empty());
    EXPECT_NE(failure.text.back(), '\n');
    EXPECT_NO_THROW(port.close());
}

TEST(Win32PortTest, WaitLastsAtLeastOneMillisecondLongerThanAsked) {
    // No device needed: the clock and the sleep are the system's.
    SerialPort port(std::make_unique<Win32SerialDevice>(R"(\\.\COM250)"), 38400, 0x00);
    const std::uint32_t start = port.tickMs();
    port.waitMs(200);
    EXPECT_GE(port.tickMs() - start, 201u);
}

bool RunningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Two COM ports joined by a null-modem pair: what one sends, the other hears.
class Win32PairTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* pair = std::getenv("KORVEL_TEST_COM_PAIR");
        if (pair == nullptr) {
            GTEST_SKIP() << "no COM port pair (KORVEL_TEST_COM_PAIR); tests/windows/wine-run.sh "
                            "provides one when socat is installed";
        }
        const std::string text = pair;
        const auto comma = text.find(',');
        ASSERT_NE(comma, std::string::npos) << text;
        first = std::stoi(text.substr(0, comma));
        second = std::stoi(text.substr(comma + 1));
        PortResolver::instance().clear();
    }

    // Long enough for the pty pair to carry a few bytes across.
    static void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }

    static std::string drain(SerialPort& port, std::size_t want) {
        std::string got;
        std::uint8_t buffer[64];
        const std::uint32_t start = port.tickMs();
        while (got.size() < want && port.tickMs() - start < 2000) {
            const auto n = port.read(buffer, sizeof buffer);
            got.append(buffer, buffer + n);
        }
        return got;
    }

    static void send(SerialPort& port, const std::string& text) {
        port.write(reinterpret_cast<const std::uint8_t*>(text.data()),
                   static_cast<std::uint16_t>(text.size()));
    }

    int first = 0;
    int second = 0;
};

TEST_F(Win32PairTest, EveryByteValuePassesUntranslatedBothWays) {
    SerialPort a(first, 115200, 0x11);
    SerialPort b(second, 115200, 0x11);
    ASSERT_TRUE(a.open()) << a.lastOpenFailure().text;
    ASSERT_TRUE(b.open()) << b.lastOpenFailure().text;
    std::string all;
    for (int i = 0; i < 256; ++i) {
        all.push_back(static_cast<char>(i));
    }
    send(a, all);
    EXPECT_EQ(drain(b, all.size()), all);
    // A break in between leaves the line usable.
    EXPECT_NO_THROW(b.sendBreak());
    const std::string controls("\r\n\x11\x13\x00?", 6);
    send(b, controls);
    EXPECT_EQ(drain(a, controls.size()), controls);
}

TEST_F(Win32PairTest, ReadIsAShortPollAndHonoursItsCapacity) {
    SerialPort a(first, 57600, 0x00);
    SerialPort b(second, 57600, 0x00);
    ASSERT_TRUE(a.open()) << a.lastOpenFailure().text;
    ASSERT_TRUE(b.open()) << b.lastOpenFailure().text;
    std::uint8_t buffer[16] = {};
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(b.read(buffer, sizeof buffer), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500))
        << "a read on a silent line must come back, not wait for data";

    send(a, "0123456789");
    settle();
    ASSERT_EQ(b.read(buffer, 4), 4);
    EXPECT_EQ(std::string(buffer, buffer + 4), "0123");
    ASSERT_EQ(b.read(buffer, sizeof buffer), 6);
    EXPECT_EQ(std::string(buffer, buffer + 6), "456789");
}

TEST_F(Win32PairTest, ReadWithinSleepsUntilTheFirstByteOrItsLimit) {
    SerialPort a(first, 57600, 0x00);
    SerialPort b(second, 57600, 0x00);
    ASSERT_TRUE(a.open()) << a.lastOpenFailure().text;
    ASSERT_TRUE(b.open()) << b.lastOpenFailure().text;
    std::uint8_t buffer[16] = {};
    const std::uint32_t start = b.tickMs();
    EXPECT_EQ(b.readWithin(buffer, sizeof buffer, 100), 0);
    EXPECT_GE(b.tickMs() - start, 100u) << "a silent line: never shorter than asked";

    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        send(a, "x");
    });
    const std::uint32_t waitStart = b.tickMs();
    const auto got = b.readWithin(buffer, sizeof buffer, 10000);
    sender.join();
    ASSERT_EQ(got, 1);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_LT(b.tickMs() - waitStart, 5000u) << "the byte ends the wait, not its limit";
}

TEST_F(Win32PairTest, BaudChangeAndPurgeDiscardWhatCameBefore) {
    SerialPort a(first, 38400, 0x00);
    SerialPort b(second, 38400, 0x00);
    ASSERT_TRUE(a.open()) << a.lastOpenFailure().text;
    ASSERT_TRUE(b.open()) << b.lastOpenFailure().text;
    send(a, "stale");
    settle();
    b.setBaudRate(9600);
    send(a, "fresh");
    EXPECT_EQ(drain(b, 5), "fresh");

    send(a, "stale");
    settle();
    b.discardInput();
    send(a, "next");
    EXPECT_EQ(drain(b, 4), "next");
}

TEST_F(Win32PairTest, PortHeldByAnotherOpenIsRefusedWithoutAnError) {
    if (RunningUnderWine()) {
        GTEST_SKIP() << "Wine does not enforce exclusive access to a serial device; Windows does";
    }
    SerialPort holder(first, 38400, 0x00);
    ASSERT_TRUE(holder.open()) << holder.lastOpenFailure().text;
    SerialPort other(first, 38400, 0x00);
    bool opened = true;
    EXPECT_NO_THROW(opened = other.open());
    EXPECT_FALSE(opened);
    EXPECT_FALSE(other.lastOpenFailure().text.empty());
    holder.close();
    EXPECT_TRUE(other.open()) << "the port is free again once closed";
}

}  // namespace
}  // namespace korvel
