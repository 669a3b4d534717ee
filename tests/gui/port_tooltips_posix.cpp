#include <QtGlobal>
#include <map>

#include "tests/gui/port_tooltips.h"

namespace korvel::test {

// The mapped device, else the system's default for COM<n>.
QString ExpectedPortToolTip(int portNumber) {
    static const std::map<int, const char*> kDevices = {
        {3, "/dev/ttyUSB7"},
        {5, "/dev/ttyS4"},
        {7, "/dev/ttyS6"},
    };
    const auto device = kDevices.find(portNumber);
    if (device == kDevices.end()) {
        qFatal("no expected tooltip for COM%d", portNumber);
    }
    return QString::fromLatin1(device->second);
}

const char* ExpectedMissingDeviceHint() {
    return "Check the cable and the port; 'korvel-cli ports' lists the devices present.";
}

}  // namespace korvel::test
