#include "sim/board_model.h"

#include <gtest/gtest.h>

#include "serial/serial_port.h"
#include "tests/support/echo_plus_one_board.h"

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

}  // namespace
}  // namespace korvel::sim
