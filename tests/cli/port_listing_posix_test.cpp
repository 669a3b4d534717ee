#include "cli/port_listing.h"

#include <gtest/gtest.h>
#include <filesystem>

#include "tests/support/temp_dir.h"

namespace korvel::cli {
namespace {

namespace fs = std::filesystem;

// A tty class tree and a by-id folder as the kernel and udev lay them out.
TEST(PortListingTest, ListsRealDevicesWithTheirComNumbers) {
    test::TempDir dir;
    const fs::path sys = dir.path("tty");
    for (const char* name :
         {"ttyUSB0", "ttyUSB1", "ttyUSB2", "ttyACM1", "ttyS0", "ttyS1", "tty1", "ptmx"}) {
        fs::create_directories(sys / name);
    }
    // ftdi_sio shows the latency timer on the port device; other drivers do not.
    fs::create_directories(sys / "ttyUSB0/device");
    dir.write("tty/ttyUSB0/device/latency_timer", std::string("16\n"));
    fs::create_directories(sys / "ttyUSB1/device");
    dir.write("tty/ttyUSB1/device/latency_timer", std::string("1\n"));
    dir.write("tty/ttyS0/type", std::string("4\n"));  // a 16550A
    dir.write("tty/ttyS1/type", std::string("0\n"));  // an empty slot
    fs::create_directories(dir.path("by-id"));
    fs::create_symlink("/dev/ttyUSB0", dir.path("by-id/usb-Maker_Cable_A1B2-if00-port0"));

    const auto devices =
        ListSerialDevices({{5, "/dev/ttyUSB0"}}, sys.string(), dir.path("by-id").string());
    ASSERT_EQ(devices.size(), 5u);
    EXPECT_EQ(devices[0].path, "/dev/ttyACM1");
    EXPECT_EQ(devices[0].comNumber, 0) << "not mapped";
    EXPECT_EQ(devices[1].path, "/dev/ttyS0");
    EXPECT_EQ(devices[1].kind, "UART");
    EXPECT_EQ(devices[1].comNumber, 1) << "COM1 is /dev/ttyS0 by default";
    EXPECT_EQ(devices[2].path, "/dev/ttyUSB0");
    EXPECT_EQ(devices[2].comNumber, 5);
    EXPECT_EQ(devices[2].byIdName, "usb-Maker_Cable_A1B2-if00-port0");

    // The latency timer where the driver shows it, and advice only where it is slow.
    EXPECT_EQ(devices[2].latencyTimerMs, 16);
    EXPECT_EQ(devices[3].latencyTimerMs, 1);
    EXPECT_EQ(devices[4].latencyTimerMs, std::nullopt);
    EXPECT_FALSE(devices[1].latencyTimerMs) << "a UART has none";
    const std::string advice = LatencyAdvice(devices[2]);
    EXPECT_NE(advice.find("16 ms"), std::string::npos) << advice;
    EXPECT_NE(advice.find("echo 1 | sudo tee /sys/bus/usb-serial/devices/ttyUSB0/latency_timer"),
              std::string::npos)
        << advice;
    EXPECT_EQ(LatencyAdvice(devices[3]), "");
    EXPECT_EQ(LatencyAdvice(devices[4]), "");
    SerialDeviceInfo atTheLimit;
    atTheLimit.latencyTimerMs = 4;
    EXPECT_EQ(LatencyAdvice(atTheLimit), "");
    atTheLimit.latencyTimerMs = 5;
    EXPECT_NE(LatencyAdvice(atTheLimit), "");
}

TEST(PortListingTest, MappedPortsWhoseDeviceIsNotThereAreListedAsAbsent) {
    test::TempDir dir;
    const fs::path sys = dir.path("tty");
    fs::create_directories(sys / "ttyUSB0");
    const std::string pty = dir.write("pts-3", "");  // there, but no tty of the class
    fs::create_symlink(dir.path("nowhere"), dir.path("by-id-link"));
    const std::map<int, std::string> portMap = {
        {2, "/dev/ttyUSB0"},
        {3, pty},
        {4, "usb:0403:6001:NOT-PLUGGED"},
        {5, dir.path("by-id-link").string()},
        {6, dir.path("gone").string()},
    };
    const auto devices = ListSerialDevices(portMap, sys.string(), dir.path("by-id").string());
    const std::vector<std::pair<int, std::string>> expected = {
        {4, "usb:0403:6001:NOT-PLUGGED"},
        {5, dir.path("by-id-link").string()},
        {6, dir.path("gone").string()},
    };
    EXPECT_EQ(AbsentMappedPorts(portMap, devices, sys.string()), expected);
}

TEST(PortListingTest, MissingFoldersGiveAnEmptyList) {
    EXPECT_TRUE(ListSerialDevices({}, "/nonexistent/tty", "/nonexistent/by-id").empty());
}

}  // namespace
}  // namespace korvel::cli
