#include "serial/usb_port_info.h"

#include <algorithm>
#include <cctype>

#include "serial/port_resolver.h"

namespace korvel {

namespace {

bool IsUsbId(const std::string& text) {
    return text.size() == 4 && std::all_of(text.begin(), text.end(),
                                           [](unsigned char c) { return std::isxdigit(c) != 0; });
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

std::optional<UsbPortSpec> ParseUsbPortSpec(const std::string& text) {
    const std::string prefix = kUsbPortPrefix;
    if (text.compare(0, prefix.size(), prefix) != 0) {
        return std::nullopt;
    }
    const std::string rest = text.substr(prefix.size());
    const auto colon = rest.find(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    const auto second = rest.find(':', colon + 1);
    UsbPortSpec spec;
    spec.vendorId = Lower(rest.substr(0, colon));
    spec.productId = Lower(rest.substr(
        colon + 1, second == std::string::npos ? std::string::npos : second - colon - 1));
    if (second != std::string::npos) {
        spec.serial = rest.substr(second + 1);
        if (spec.serial.empty()) {
            return std::nullopt;
        }
    }
    if (!IsUsbId(spec.vendorId) || !IsUsbId(spec.productId)) {
        return std::nullopt;
    }
    return spec;
}

std::optional<std::string> AdapterProblem(const std::string& port) {
    std::string error;
    if (port.rfind(kUsbPortPrefix, 0) != 0 || !ResolveAdapterPath(port, error).empty()) {
        return std::nullopt;
    }
    return error;
}

bool MapPortName(int number, const std::string& port, std::string& error) {
    const std::string device = ResolveAdapterPath(port, error);
    PortResolver::instance().mapPath(number, device.empty() ? port : device);
    return !device.empty();
}

void MapSettingsPorts(const std::map<int, std::string>& ports) {
    for (const auto& [number, port] : ports) {
        std::string unresolved;
        MapPortName(number, port, unresolved);
    }
}

}  // namespace korvel
