#pragma once

#include <QString>

namespace korvel::app {

// What a COM port item shows when pointed at: the device the number maps to
// where that is not obvious from the name, else nothing.
QString PortToolTip(int portNumber);

}  // namespace korvel::app
