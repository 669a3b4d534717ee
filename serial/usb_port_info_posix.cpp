#include <filesystem>
#include <fstream>
#include <vector>

#include "serial/usb_port_info.h"

namespace korvel {

namespace fs = std::filesystem;

namespace {

std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

std::optional<UsbPortInfo> UsbInfoForTty(const std::string& ttyName,
                                         const std::string& sysClassTty) {
    std::error_code ec;
    // The tty's "device" link leads into the USB interface; the USB device
    // with its ids is the nearest folder above that has an idVendor.
    fs::path at = fs::canonical(fs::path(sysClassTty) / ttyName / "device", ec);
    if (ec) {
        return std::nullopt;
    }
    for (; !at.empty() && at != at.root_path(); at = at.parent_path()) {
        if (fs::exists(at / "idVendor", ec) && fs::exists(at / "idProduct", ec)) {
            UsbPortInfo info;
            info.vendorId = ReadAttribute(at / "idVendor");
            info.productId = ReadAttribute(at / "idProduct");
            info.serial = ReadAttribute(at / "serial");
            info.manufacturer = ReadAttribute(at / "manufacturer");
            info.product = ReadAttribute(at / "product");
            return info;
        }
    }
    return std::nullopt;
}

std::string ResolveAdapterPath(const std::string& port, std::string& error,
                               const std::string& sysClassTty, const std::string& devDir) {
    const std::string prefix = kUsbPortPrefix;
    if (port.compare(0, prefix.size(), prefix) != 0) {
        return port;
    }
    const auto spec = ParseUsbPortSpec(port);
    if (!spec) {
        error = "'" + port + "' is not of the form usb:VID:PID[:SERIAL] (ids in hex, as 0403)";
        return {};
    }
    std::vector<std::string> matches;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysClassTty, ec)) {
        const std::string name = entry.path().filename().string();
        const auto info = UsbInfoForTty(name, sysClassTty);
        if (info && info->vendorId == spec->vendorId && info->productId == spec->productId &&
            (spec->serial.empty() || info->serial == spec->serial)) {
            matches.push_back((fs::path(devDir) / name).string());
        }
    }
    if (matches.size() == 1) {
        return matches.front();
    }
    if (matches.empty()) {
        error = "no serial adapter " + port + " is plugged in ('korvel-cli ports' lists them)";
    } else {
        error = std::to_string(matches.size()) + " serial adapters match " + port +
                ": add the serial number (usb:VID:PID:SERIAL, 'korvel-cli ports' lists them)";
    }
    return {};
}

}  // namespace korvel
