#pragma once

#include <string>
#include <vector>

namespace korvel::app {

// A serial port the station can program through, as the system shows it.
struct AdapterPort {
    std::string device;  // what the run opens: /dev/ttyUSB0, COM5
    std::string name;    // the adapter's product name, else the device's
    std::string vidPid;  // "0403:6001"; empty where the system does not say
    std::string serial;
};

// The adapters present, sorted by device. Linux: the USB serial adapters
// under sysClassTty; Windows: the COM ports the system has.
std::vector<AdapterPort> ListAdapterPorts(const std::string& sysClassTty = "/sys/class/tty");

}  // namespace korvel::app
