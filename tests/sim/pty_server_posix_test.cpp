// The pty server puts a board model on a real serial device.
#include "sim/pty_server.h"

#include <gtest/gtest.h>

#include <thread>

#include "serial/posix_serial_device.h"
#include "serial/serial_port.h"
#include "tests/support/echo_plus_one_board.h"

namespace korvel::sim {
namespace {

TEST(PtyServerTest, ServesAModelToARealSerialPort) {
    test::EchoPlusOneBoard model;
    PtyServer server(model, "", /*paced=*/false);
    std::atomic<bool> stop{false};
    std::thread serving([&] { server.run(stop); });

    SerialPort port(std::make_unique<PosixSerialDevice>(server.devicePath()), 57600, 0x11);
    ASSERT_TRUE(port.open());
    port.setBaudRate(115200);
    const std::uint8_t out[2] = {'a', 'y'};
    port.write(out, 2);
    std::string got;
    std::uint8_t buf[8];
    const std::uint32_t start = port.tickMs();
    while (got.size() < 2 && port.tickMs() - start < 2000) {
        const auto n = port.read(buf, sizeof buf);
        got.append(buf, buf + n);
    }
    stop = true;
    serving.join();
    EXPECT_EQ(got, "bz");
    ASSERT_FALSE(model.bauds.empty());
    EXPECT_EQ(model.bauds.back(), 115200);
}

}  // namespace
}  // namespace korvel::sim
