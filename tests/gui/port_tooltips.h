#pragma once

#include <QString>

namespace korvel::test {

// What the COM box shows for a port when pointed at, on the platform under
// test, with COM3 mapped to /dev/ttyUSB7 as TfrmMainTest maps it.
QString ExpectedPortToolTip(int portNumber);

// What follows the system's words when a port's device is not there.
const char* ExpectedMissingDeviceHint();

}  // namespace korvel::test
