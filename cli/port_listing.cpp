#include "cli/port_listing.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "serial/usb_port_info.h"
#include "util/decimal.h"

namespace korvel::cli {

namespace fs = std::filesystem;

std::string CanonicalDevicePath(const std::string& path) {
    std::error_code ec;
    fs::path p = path;
    for (int hops = 0; hops < 8 && fs::is_symlink(p, ec); ++hops) {
        const fs::path target = fs::read_symlink(p, ec);
        p = target.is_absolute() ? target : p.parent_path() / target;
    }
    const fs::path canonical = fs::weakly_canonical(p.lexically_normal(), ec);
    return ec ? path : canonical.string();
}

namespace {

// Above this an adapter's answers come noticeably late.
constexpr int kSlowLatencyMs = 4;

std::string ReadFirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The 8250 driver registers ttyS0..31 whether or not a UART is there; its
// "type" attribute is 0 for a slot without one.
bool IsRealUart(const fs::path& ttyDir) {
    const fs::path type = ttyDir / "type";
    return fs::exists(type) && ReadFirstLine(type) != "0";
}

// The usb-serial port device behind the tty shows it (ftdi_sio does).
std::optional<int> LatencyTimerMs(const fs::path& ttyDir) {
    return ParseDecimal<int>(ReadFirstLine(ttyDir / "device" / "latency_timer"));
}

// The device a mapping names, every link followed; empty for an adapter
// that is not plugged in.
std::string MappedDevice(const std::string& mapped, const std::string& sysRoot) {
    std::string unresolved;
    const std::string device = ResolveAdapterPath(mapped, unresolved, sysRoot);
    return device.empty() ? device : CanonicalDevicePath(device);
}

}  // namespace

std::vector<SerialDeviceInfo> ListSerialDevices(const std::map<int, std::string>& portMap,
                                                const std::string& sysRoot,
                                                const std::string& byIdDir) {
    std::vector<SerialDeviceInfo> devices;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysRoot, ec)) {
        const std::string name = entry.path().filename().string();
        SerialDeviceInfo info;
        info.path = "/dev/" + name;
        if (name.rfind("ttyUSB", 0) == 0) {
            info.kind = "USB adapter";
            info.latencyTimerMs = LatencyTimerMs(entry.path());
        } else if (name.rfind("ttyACM", 0) == 0) {
            info.kind = "USB ACM";
        } else if (name.rfind("ttyS", 0) == 0 || name.rfind("ttyAMA", 0) == 0) {
            if (!IsRealUart(entry.path())) {
                continue;
            }
            info.kind = "UART";
        } else {
            continue;
        }
        devices.push_back(info);
    }
    // Stable names of USB adapters survive re-plugging; show them.
    for (const auto& entry : fs::directory_iterator(byIdDir, ec)) {
        const std::string target = CanonicalDevicePath(entry.path().string());
        for (SerialDeviceInfo& info : devices) {
            if (CanonicalDevicePath(info.path) == target) {
                info.byIdName = entry.path().filename().string();
            }
        }
    }
    for (SerialDeviceInfo& info : devices) {
        const std::string real = CanonicalDevicePath(info.path);
        for (const auto& [number, path] : portMap) {
            if (MappedDevice(path, sysRoot) == real) {
                info.comNumber = number;
                break;
            }
        }
        if (info.comNumber == 0 && info.path.rfind("/dev/ttyS", 0) == 0) {
            const std::string digits = info.path.substr(9);
            if (!digits.empty() && digits.size() < 6 &&
                std::all_of(digits.begin(), digits.end(), ::isdigit) &&
                !portMap.count(std::stoi(digits) + 1)) {
                info.comNumber = std::stoi(digits) + 1;
            }
        }
    }
    std::sort(devices.begin(), devices.end(),
              [](const SerialDeviceInfo& a, const SerialDeviceInfo& b) { return a.path < b.path; });
    return devices;
}

std::vector<std::pair<int, std::string>> AbsentMappedPorts(
    const std::map<int, std::string>& portMap, const std::vector<SerialDeviceInfo>& devices,
    const std::string& sysRoot) {
    std::vector<std::pair<int, std::string>> absent;
    for (const auto& [number, path] : portMap) {
        const std::string device = MappedDevice(path, sysRoot);
        const bool listed = std::any_of(devices.begin(), devices.end(), [&](const auto& d) {
            return CanonicalDevicePath(d.path) == device;
        });
        std::error_code ec;
        if (device.empty() || (!listed && !fs::exists(device, ec))) {
            absent.emplace_back(number, path);
        }
    }
    return absent;
}

std::string LatencyAdvice(const SerialDeviceInfo& device) {
    if (!device.latencyTimerMs || *device.latencyTimerMs <= kSlowLatencyMs) {
        return {};
    }
    const std::string name = fs::path(device.path).filename().string();
    return device.path + ": the adapter holds what the board sends for up to " +
           std::to_string(*device.latencyTimerMs) +
           " ms before passing it on, on every answer. Lower its latency timer to 1 ms:\n"
           "  echo 1 | sudo tee /sys/bus/usb-serial/devices/" +
           name +
           "/latency_timer\n"
           "  (until it is unplugged; the udev rule of the Korvel package sets it on every "
           "plug-in)";
}

}  // namespace korvel::cli
