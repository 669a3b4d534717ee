#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace korvel::cli {

struct SerialDeviceInfo {
    std::string path;      // /dev/ttyUSB0
    std::string byIdName;  // usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0, for adapters
    std::string kind;      // "USB adapter", "USB ACM", "UART"
    int comNumber = 0;     // 0 when no COM<n> leads to it
    // A USB adapter's latency timer, where its driver shows it (FTDI chips).
    std::optional<int> latencyTimerMs;
};

// A device path with every link followed, also where the target is not
// there (udev's by-id links are relative, like ../../ttyUSB0), so that two
// names of one device come out as one.
std::string CanonicalDevicePath(const std::string& path);

// The serial devices present (from /dev/serial/by-id and the tty class under
// sysRoot), each with the COM<n> that the settings' mapping or the default
// /dev/ttyS<n-1> rule makes of it.
std::vector<SerialDeviceInfo> ListSerialDevices(const std::map<int, std::string>& portMap,
                                                const std::string& sysRoot = "/sys/class/tty",
                                                const std::string& byIdDir = "/dev/serial/by-id");

// The settings' mapped ports whose device is not there (an adapter not
// plugged in, a path that leads nowhere): each COM<n> with the name it is
// mapped to. A device that is there but no serial device of the system's
// list (a pty) is not absent.
std::vector<std::pair<int, std::string>> AbsentMappedPorts(
    const std::map<int, std::string>& portMap, const std::vector<SerialDeviceInfo>& devices,
    const std::string& sysRoot = "/sys/class/tty");

// For an adapter whose latency timer slows a dialogue down: what it costs and
// how to lower it. Empty when there is nothing to say.
std::string LatencyAdvice(const SerialDeviceInfo& device);

}  // namespace korvel::cli
