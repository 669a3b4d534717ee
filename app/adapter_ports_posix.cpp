#include <algorithm>
#include <filesystem>

#include "app/adapter_ports.h"
#include "serial/usb_port_info.h"

namespace korvel::app {

std::vector<AdapterPort> ListAdapterPorts(const std::string& sysClassTty) {
    std::vector<AdapterPort> ports;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(sysClassTty, ec)) {
        const std::string tty = entry.path().filename().string();
        const auto usb = UsbInfoForTty(tty, sysClassTty);
        if (!usb) {
            continue;  // the console's ttys and the board's own UARTs
        }
        ports.push_back({"/dev/" + tty, usb->product.empty() ? tty : usb->product,
                         usb->vendorId + ":" + usb->productId, usb->serial});
    }
    std::ranges::sort(ports, {}, &AdapterPort::device);
    return ports;
}

}  // namespace korvel::app
