#pragma once

#include <map>
#include <optional>
#include <string>

namespace korvel {

// The USB adapter behind a serial device, as the system describes it.
struct UsbPortInfo {
    std::string vendorId;   // four lower-case hex digits, "0403"
    std::string productId;  // "6001"
    std::string serial;
    std::string manufacturer;
    std::string product;
};

// A port named by its adapter: usb:VID:PID[:SERIAL].
struct UsbPortSpec {
    std::string vendorId;
    std::string productId;
    std::string serial;  // empty: any
};

inline constexpr const char* kUsbPortPrefix = "usb:";

// nullopt when text is not of the usb:VID:PID[:SERIAL] form (the ids four
// hex digits each).
std::optional<UsbPortSpec> ParseUsbPortSpec(const std::string& text);

// The adapter behind a tty (ttyUSB0) from the system's device tree under
// sysClassTty; nullopt for a tty that is no USB device. Linux only.
std::optional<UsbPortInfo> UsbInfoForTty(const std::string& ttyName,
                                         const std::string& sysClassTty = "/sys/class/tty");

// A port as the user or the settings file names it, as a device path: a
// usb: name becomes the device of the one adapter that matches it; anything
// else is returned as it is. When no adapter (or more than one) matches,
// returns empty with the reason in `error`.
std::string ResolveAdapterPath(const std::string& port, std::string& error,
                               const std::string& sysClassTty = "/sys/class/tty",
                               const std::string& devDir = "/dev");

// For a port named by its adapter (usb:...) that no one device answers to:
// why, in the words every front end uses (the adapter is not plugged in, or
// several match). nullopt for any other name, and for an adapter found.
std::optional<std::string> AdapterProblem(const std::string& port);

// Maps COM<number> to the device the port names (ResolveAdapterPath). An
// adapter that is not plugged in keeps its name, so a run on that port says
// that it did not open; false then, with the reason in `error`.
bool MapPortName(int number, const std::string& port, std::string& error);

// MapPortName for every COM<n> of the settings' [PORTS] section.
void MapSettingsPorts(const std::map<int, std::string>& ports);

}  // namespace korvel
