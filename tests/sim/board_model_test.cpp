#include "sim/board_model.h"

#include <gtest/gtest.h>

#include "serial/serial_port.h"

namespace korvel::sim {
namespace {

// Answers every byte with the byte plus one; remembers the line settings.
struct EchoPlusOne : BoardModel {
    void onByte(VirtualNs at, std::uint8_t byte) override {
        transmit(at, {static_cast<std::uint8_t>(byte + 1)});
    }
    void onLineSettings(VirtualNs, const LineSettings& s) override { bauds.push_back(s.baudRate); }
    std::vector<int> bauds;
};

TEST(BoardModelTest, AnswersLeaveAtTheLineRateOfTheCurrentBaud) {
    EchoPlusOne model;
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

}  // namespace
}  // namespace korvel::sim
