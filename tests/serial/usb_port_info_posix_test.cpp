#include "serial/usb_port_info.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;

// A sysfs as the kernel lays it out: the tty class links each tty to its
// place under devices/, where the USB device folder above the interface
// carries the ids.
struct FakeSysfs {
    test::TempDir dir;
    fs::path tty = dir.path("class/tty");

    void usbTty(const std::string& name, const std::string& usbDevice, const std::string& vid,
                const std::string& pid, const std::string& serial) {
        const fs::path device = dir.path("devices/pci0/usb1") / usbDevice;
        const fs::path node = device / (usbDevice + ":1.0") / name;
        fs::create_directories(node);
        fs::create_directories(tty / name);
        fs::create_symlink(fs::relative(node, tty / name), tty / name / "device");
        dir.write("devices/pci0/usb1/" + usbDevice + "/idVendor", vid + "\n");
        dir.write("devices/pci0/usb1/" + usbDevice + "/idProduct", pid + "\n");
        if (!serial.empty()) {
            dir.write("devices/pci0/usb1/" + usbDevice + "/serial", serial + "\n");
        }
        dir.write("devices/pci0/usb1/" + usbDevice + "/product", std::string("UART cable\n"));
    }
};

TEST(UsbPortInfoTest, AdaptersAreFoundByIdsAndSerial) {
    FakeSysfs sys;
    sys.usbTty("ttyUSB0", "1-1", "0403", "6001", "A1B2");
    sys.usbTty("ttyUSB1", "1-2", "0403", "6001", "C3D4");
    sys.usbTty("ttyACM0", "1-3", "2341", "0043", "");
    // A UART on the board: no USB device above it.
    fs::create_directories(sys.dir.path("devices/platform/serial8250/ttyS0"));
    fs::create_directories(sys.tty / "ttyS0");
    fs::create_symlink(sys.dir.path("devices/platform/serial8250/ttyS0"), sys.tty / "ttyS0/device");

    const auto info = UsbInfoForTty("ttyUSB1", sys.tty.string());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->vendorId, "0403");
    EXPECT_EQ(info->productId, "6001");
    EXPECT_EQ(info->serial, "C3D4");
    EXPECT_EQ(info->product, "UART cable");
    EXPECT_FALSE(UsbInfoForTty("ttyS0", sys.tty.string()));
    EXPECT_FALSE(UsbInfoForTty("ttyUSB9", sys.tty.string()));

    struct Row {
        const char* port;
        const char* device;  // empty: not resolved
        const char* reason;  // a word of the reason when not
    };
    const Row rows[] = {
        {"usb:0403:6001:C3D4", "/dev/ttyUSB1", ""},
        {"usb:0403:6001:A1B2", "/dev/ttyUSB0", ""},
        {"usb:2341:0043", "/dev/ttyACM0", ""},
        {"usb:2341:0043:X", "", "no serial adapter"},
        {"usb:0403:6001", "", "2 serial adapters match"},
        {"usb:1234:5678", "", "no serial adapter"},
        {"usb:0403", "", "usb:VID:PID"},
        {"/dev/serial/by-id/usb-x", "/dev/serial/by-id/usb-x", ""},
        {"/dev/ttyS3", "/dev/ttyS3", ""},
    };
    for (const Row& row : rows) {
        std::string error;
        EXPECT_EQ(ResolveAdapterPath(row.port, error, sys.tty.string(), "/dev"), row.device)
            << row.port;
        EXPECT_NE(error.find(row.reason), std::string::npos) << row.port << ": " << error;
    }
}

TEST(UsbPortInfoTest, OnlyWellFormedAdapterNamesParse) {
    const auto spec = ParseUsbPortSpec("usb:04D8:000a:S/N 1");
    ASSERT_TRUE(spec);
    EXPECT_EQ(spec->vendorId, "04d8");
    EXPECT_EQ(spec->productId, "000a");
    EXPECT_EQ(spec->serial, "S/N 1");
    for (const char* bad : {"usb:", "usb:0403", "usb:0403:", "usb:403:6001", "usb:0403:60011",
                            "usb:04g3:6001", "usb:0403:6001:", "USB:0403:6001", "0403:6001"}) {
        EXPECT_FALSE(ParseUsbPortSpec(bad)) << bad;
    }
}

}  // namespace
}  // namespace korvel
