#include <windows.h>
// After windows.h, which it needs.
#include <setupapi.h>

#include <cstdlib>
#include <cstring>

#include "cli/com_port_names.h"

namespace korvel::cli {

namespace {

// The device setup class "Ports (COM & LPT)".
constexpr GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

std::string Property(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
    char text[512] = {};
    if (!::SetupDiGetDeviceRegistryPropertyA(devices, &device, property, nullptr,
                                             reinterpret_cast<PBYTE>(text), sizeof text - 1,
                                             nullptr)) {
        return {};
    }
    return text;  // for a list of strings, its first one
}

int PortNumber(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    const HKEY key =
        ::SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
        return 0;
    }
    char name[32] = {};
    DWORD size = sizeof name - 1;
    DWORD type = 0;
    const bool read = ::RegQueryValueExA(key, "PortName", nullptr, &type,
                                         reinterpret_cast<LPBYTE>(name), &size) == ERROR_SUCCESS &&
                      type == REG_SZ;
    ::RegCloseKey(key);
    if (!read || std::strncmp(name, "COM", 3) != 0) {
        return 0;
    }
    return std::atoi(name + 3);
}

}  // namespace

std::map<int, std::string> ComPortFriendlyNames() {
    std::map<int, std::string> names;
    const HDEVINFO devices = ::SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) {
        return names;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
        if (const int n = PortNumber(devices, device); n > 0) {
            std::string text = Property(devices, device, SPDRP_FRIENDLYNAME);
            const std::string hardware = Property(devices, device, SPDRP_HARDWAREID);
            if (!hardware.empty()) {
                text += "  [" + hardware + "]";
            }
            names[n] = text;
        }
    }
    ::SetupDiDestroyDeviceInfoList(devices);
    return names;
}

}  // namespace korvel::cli
