#include "app/port_tooltip.h"

namespace korvel::app {

// The port's name is the device's name on Windows.
QString PortToolTip(int) {
    return {};
}

}  // namespace korvel::app
