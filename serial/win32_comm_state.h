#pragma once

#include <windows.h>

#include "serial/line_settings.h"

namespace korvel {

// What Win32SerialDevice hands the Windows communications API, in the API's
// own types: for the device and its tests only.

// The device state for the line settings: 8 data bits, no flow control of any
// kind, DTR and RTS held inactive. Fields the line settings do not decide keep
// what `current` (the driver's state) has.
DCB MakeCommState(const DCB& current, const LineSettings& settings);
// Reads return after about 1 ms with whatever came; writes may take 100 ms a
// byte plus one second.
COMMTIMEOUTS MakeCommTimeouts();

}  // namespace korvel
