#include "app/port_tooltip.h"
#include "serial/port_resolver.h"

namespace korvel::app {

// "COM3" names no device here: show the path it stands for.
QString PortToolTip(int portNumber) {
    return QString::fromStdString(PortResolver::instance().describe(portNumber));
}

}  // namespace korvel::app
