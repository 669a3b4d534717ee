#include "tests/gui/port_tooltips.h"

namespace korvel::test {

// COM<n> is the device itself on Windows: nothing to add, mapped or not.
QString ExpectedPortToolTip(int) {
    return {};
}

const char* ExpectedMissingDeviceHint() {
    return "Check the cable and the port number; the Device Manager lists the COM ports present "
           "under \"Ports (COM & LPT)\".";
}

}  // namespace korvel::test
