#include "sim/pcx_board.h"

#include <gtest/gtest.h>

#include "serial/serial_port.h"
#include "sim/pcx_board_command.h"

namespace korvel::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr VirtualNs kMs = 1'000'000;

// Raw frames to the board, written out by hand; replies are whatever comes
// back within the wait.
class PcxBoardTest : public ::testing::Test {
  protected:
    PcxBoardTest() {
        auto d = std::make_unique<VirtualSerialDevice>(board);
        dev = d.get();
        port = std::make_unique<SerialPort>(std::move(d), 57600, 0x11);
        EXPECT_TRUE(port->open());
    }

    Bytes exchange(const Bytes& request, unsigned waitMs = 500) {
        port->write(request.data(), static_cast<std::uint16_t>(request.size()));
        Bytes got;
        std::uint8_t buf[64];
        const std::uint32_t start = port->tickMs();
        while (port->tickMs() - start < waitMs) {
            const auto n = port->read(buf, sizeof buf);
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

    // A request frame with its sum, built here so the tests read as the wire does.
    static Bytes frame(std::uint8_t command, const Bytes& payload, std::uint8_t address = 0x22) {
        const std::size_t n = payload.size();
        Bytes f(n + 9);
        f[0] = 0x02;
        f[1] = address;
        f[2] = static_cast<std::uint8_t>(address ^ 0x85);
        f[3] = command;
        f[4] = static_cast<std::uint8_t>(n >> 8);
        f[5] = static_cast<std::uint8_t>(n);
        std::copy(payload.begin(), payload.end(), f.begin() + 7);
        for (std::size_t i = 3; i < n + 7; ++i) {
            f[n + 7] = static_cast<std::uint8_t>(f[n + 7] + f[i]);
        }
        f[n + 8] = 0x03;
        return f;
    }
    static Bytes u32(std::uint32_t v) {
        return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    }
    static Bytes write(std::uint32_t address, std::uint8_t fill) {
        Bytes p = u32(address);
        p.insert(p.end(), 1024, fill);
        return frame(0x21, p);
    }
    std::uint8_t status(const Bytes& request) {
        const Bytes reply = exchange(request);
        return reply.size() >= 9 ? reply[6] : 0xEE;
    }

    PcxBoard board;
    VirtualSerialDevice* dev = nullptr;
    std::unique_ptr<SerialPort> port;
};

TEST_F(PcxBoardTest, AnswersFramesAddressedToTheUnit) {
    const Bytes ping = {0x02, 0x22, 0xA7, 0x10, 0x00, 0x00, 0x00, 0x10, 0x03};
    EXPECT_EQ(exchange(ping), ping);
    EXPECT_TRUE(exchange({0x02, 0x32, 0xB7, 0x10, 0x00, 0x00, 0x00, 0x10, 0x03}).empty());
    EXPECT_TRUE(exchange({0x02, 0x22, 0xA7, 0x10, 0x00, 0x00, 0x00, 0x11, 0x03}).empty());
    // "PCX" CR "V2.10" CR "BOOTPLM300": 20 bytes.
    const Bytes info = exchange({0x02, 0x22, 0xA7, 0x11, 0x00, 0x00, 0x00, 0x11, 0x03});
    ASSERT_EQ(info.size(), 29u);
    EXPECT_EQ(Bytes(info.begin(), info.begin() + 7),
              (Bytes{0x02, 0x22, 0xA7, 0x11, 0x00, 0x14, 0x00}));
    EXPECT_EQ(std::string(info.begin() + 7, info.end() - 2), "PCX\rV2.10\rBOOTPLM300");
    EXPECT_EQ(info.back(), 0x03);
    // A frame broken off by a long pause is dropped; the next one is heard.
    port->write(ping.data(), 4);
    port->waitMs(200);
    EXPECT_EQ(exchange(ping), ping);
}

TEST_F(PcxBoardTest, FlashTakesBlocksOnlyInErasedProgrammableSectors) {
    EXPECT_EQ(status(frame(0x20, u32(0x8000))), PcxBoard::kNotProgramming);
    EXPECT_EQ(status(frame(0x0A, {})), 0);
    EXPECT_EQ(status(write(0x8000, 0x11)), PcxBoard::kNotErased);
    // Loader and unit-data sectors, and an address inside a sector.
    for (std::uint32_t address : {0x1000u, 0x7D000u, 0x8400u}) {
        EXPECT_EQ(status(frame(0x20, u32(address))), PcxBoard::kBadAddress) << address;
    }
    const auto before = board.flash();
    EXPECT_EQ(status(frame(0x20, u32(0x78000))), 0);  // sector 22, 4 KB
    for (std::uint32_t a = 0; a < PcxBoard::kFlashSize; ++a) {
        ASSERT_EQ(board.flash()[a], a >= 0x78000 && a < 0x79000 ? 0xFF : before[a]) << a;
    }
    EXPECT_EQ(status(write(0x78400, 0x11)), 0);
    EXPECT_EQ(status(write(0x78400, 0x22)), PcxBoard::kNotErased);
    EXPECT_EQ(status(write(0x78200, 0x22)), PcxBoard::kBadAddress);
    EXPECT_EQ(status(write(0x7D000, 0x22)), PcxBoard::kBadAddress);
    EXPECT_EQ(board.flash()[0x78400], 0x11);
    EXPECT_EQ(board.flash()[0x787FF], 0x11);

    EXPECT_EQ(status(frame(0x20, {0, 0, 0, 0})), 0);  // the whole range
    EXPECT_EQ(std::count(board.flash().begin(), board.flash().end(), 0xFF), 0x7D000 - 0x8000);
    EXPECT_EQ(status(frame(0x20, {0, 0, 0})), PcxBoard::kBadLength);
    EXPECT_EQ(status(frame(0x42, {})), PcxBoard::kUnknownCommand);
}

TEST_F(PcxBoardTest, SpeedChangeAnswersAtTheOldRateThenListensAtTheNew) {
    const Bytes ping = frame(0x10, {});
    EXPECT_EQ(status(frame(0x18, u32(19200))), 0);
    EXPECT_TRUE(exchange(ping).empty()) << "the host did not follow";
    port->setBaudRate(19200);
    EXPECT_EQ(exchange(ping), ping);
    EXPECT_EQ(status(frame(0x18, u32(19201))), PcxBoard::kBadBaudRate);
    // Reboot: the unit restarts at its start rate.
    EXPECT_EQ(status(frame(0x63, {})), 0);
    port->setBaudRate(57600);
    port->waitMs(100);
    EXPECT_EQ(exchange(ping), ping);
}

TEST(PcxBoardFaultsTest, NamedFaultsParseAndUnknownOnesAreRefused) {
    PcxBoardFaults faults;
    std::string error;
    ASSERT_TRUE(ParsePcxFaults({"silent", "busy-once", "refuse-erase-all", "refuse-write=0x8C00",
                                "lowercase-id", "no-reboot-reply", "answer-after=7"},
                               faults, error));
    EXPECT_TRUE(faults.silent && faults.busyOnce && faults.refuseEraseAll && faults.noRebootReply);
    EXPECT_EQ(faults.refuseWriteAt, 0x8C00u);
    EXPECT_EQ(faults.loaderId, "bootplm300");
    EXPECT_EQ(faults.ignoredPings, 7);
    for (const char* bad : {"loud", "answer-after=x", "refuse-write=", "refuse-write=12k"}) {
        EXPECT_FALSE(ParsePcxFaults({bad}, faults, error)) << bad;
        EXPECT_NE(error.find(bad), std::string::npos);
    }
}

}  // namespace
}  // namespace korvel::sim
