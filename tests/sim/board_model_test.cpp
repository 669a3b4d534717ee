#include "sim/board_model.h"

#include <gtest/gtest.h>

#include "serial/serial_port.h"
#include "sim/usb_adapter.h"
#include "tests/support/echo_plus_one_board.h"
#include "tests/support/scripted_line_end.h"

namespace korvel::sim {
namespace {

TEST(BoardModelTest, AnswersLeaveAtTheLineRateOfTheCurrentBaud) {
    test::EchoPlusOneBoard model;
    VirtualSerialDevice::Options options;
    auto device = std::make_unique<VirtualSerialDevice>(model, options);
    VirtualSerialDevice* dev = device.get();
    SerialPort port(std::move(device), 9600, 0x00);
    ASSERT_TRUE(port.open());
    const std::uint8_t out[3] = {1, 2, 3};
    port.write(out, 3);
    std::vector<std::uint8_t> got;
    std::uint8_t buf[8];
    while (got.size() < 3) {
        const auto n = port.read(buf, sizeof buf);
        got.insert(got.end(), buf, buf + n);
    }
    EXPECT_EQ(got, (std::vector<std::uint8_t>{2, 3, 4}));
    // Three host characters, then the answer to the last one: four character times.
    EXPECT_EQ(dev->now(), 4 * CharacterTimeNs(LineSettings{9600}));
    EXPECT_EQ(model.bauds, std::vector<int>{9600});
}

TEST(UsbAdapterModelTest, BoardBytesReachTheHostPerFullPacketOrWhenTheTimerRunsOut) {
    constexpr VirtualNs kMs = BoardModel::kMs;
    constexpr VirtualNs kTenth = kMs / 10;
    struct Burst {
        VirtualNs at;
        std::size_t count;
        VirtualNs gap;
    };
    struct Case {
        const char* what;
        VirtualNs latency;
        std::vector<Burst> board;
        // Moments bytes reached the host, each with how many came then.
        std::vector<std::pair<VirtualNs, std::size_t>> host;
    };
    const Case cases[] = {
        {"a short answer waits out the timer", 16 * kMs, {{kMs, 3, kMs}}, {{17 * kMs, 3}}},
        {"a full packet leaves at once, the rest with the timer",
         16 * kMs,
         {{kMs, 100, kTenth}},
         {{kMs + 61 * kTenth, 62}, {kMs + 62 * kTenth + 16 * kMs, 38}}},
        {"each answer starts its own timer",
         16 * kMs,
         {{kMs, 1, 0}, {30 * kMs, 2, kMs}},
         {{17 * kMs, 1}, {46 * kMs, 2}}},
        {"no latency passes every byte on as it comes",
         0,
         {{kMs, 3, kMs}},
         {{kMs, 1}, {2 * kMs, 1}, {3 * kMs, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScriptedLineEnd board;
        std::size_t total = 0;
        for (const Burst& b : c.board) {
            board.send(b.at, std::vector<std::uint8_t>(b.count, 0x55), b.gap);
            total += b.count;
        }
        UsbAdapterModel adapter(board, c.latency);
        std::vector<WireEvent> wire;
        VirtualSerialDevice::Options options;
        options.wireLog = &wire;
        SerialPort port(std::make_unique<VirtualSerialDevice>(adapter, options), 115200, 0x00);
        ASSERT_TRUE(port.open());
        const std::uint8_t request = '?';
        port.write(&request, 1);
        EXPECT_EQ(board.hostBytes, std::vector<std::uint8_t>{'?'}) << "the host's side passes";

        std::uint8_t buf[256];
        std::size_t got = 0;
        for (int i = 0; i < 1000 && got < total; ++i) {
            got += port.readWithin(buf, sizeof buf, 100);
        }
        EXPECT_EQ(got, total);
        std::vector<std::pair<VirtualNs, std::size_t>> host;
        for (const WireEvent& e : wire) {
            if (e.kind != WireEvent::Kind::BoardByte) {
                continue;
            }
            if (host.empty() || host.back().first != e.at) {
                host.emplace_back(e.at, 0);
            }
            ++host.back().second;
        }
        EXPECT_EQ(host, c.host);
    }
}

}  // namespace
}  // namespace korvel::sim
