#include "serial/usb_port_info.h"

namespace korvel {

std::string ResolveAdapterPath(const std::string& port, std::string& error, const std::string&,
                               const std::string&) {
    const std::string prefix = kUsbPortPrefix;
    if (port.compare(0, prefix.size(), prefix) != 0) {
        return port;
    }
    // Windows keeps a COM number with its adapter already.
    error =
        "usb: port names work on Linux; on Windows name the COM port ('korvel-cli ports' "
        "lists them with their adapters)";
    return {};
}

}  // namespace korvel
