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
    for (const char* name : {"ttyUSB0", "ttyACM1", "ttyS0", "ttyS1", "tty1", "ptmx"}) {
        fs::create_directories(sys / name);
    }
    dir.write("tty/ttyS0/type", std::string("4\n"));  // a 16550A
    dir.write("tty/ttyS1/type", std::string("0\n"));  // an empty slot
    fs::create_directories(dir.path("by-id"));
    fs::create_symlink("/dev/ttyUSB0", dir.path("by-id/usb-Maker_Cable_A1B2-if00-port0"));

    const auto devices =
        ListSerialDevices({{5, "/dev/ttyUSB0"}}, sys.string(), dir.path("by-id").string());
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].path, "/dev/ttyACM1");
    EXPECT_EQ(devices[0].comNumber, 0) << "not mapped";
    EXPECT_EQ(devices[1].path, "/dev/ttyS0");
    EXPECT_EQ(devices[1].kind, "UART");
    EXPECT_EQ(devices[1].comNumber, 1) << "COM1 is /dev/ttyS0 by default";
    EXPECT_EQ(devices[2].path, "/dev/ttyUSB0");
    EXPECT_EQ(devices[2].comNumber, 5);
    EXPECT_EQ(devices[2].byIdName, "usb-Maker_Cable_A1B2-if00-port0");
}

TEST(PortListingTest, MissingFoldersGiveAnEmptyList) {
    EXPECT_TRUE(ListSerialDevices({}, "/nonexistent/tty", "/nonexistent/by-id").empty());
}

}  // namespace
}  // namespace korvel::cli
