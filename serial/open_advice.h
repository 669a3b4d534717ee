#pragma once

#include <string>

#include "serial/serial_device.h"

namespace korvel {

// What the user can do about a port that would not open, on one line: the
// device and the system's words, then a hint where one helps. A missing
// adapter is said the same way however the port was named.
std::string OpenAdvice(const std::string& devicePath, const OpenFailure& failure);

// The system's own hint for a failure (empty where none helps): one backend
// per system, chosen by the build.
std::string OpenHint(const std::string& devicePath, const OpenFailure& failure);

}  // namespace korvel
