#pragma once

#include <cstdint>

namespace korvel {

// The outcome of one run; also the exit code of unattended and headless runs.
enum class RunResult : std::uint8_t {
    Success = 0,
    PortNotOpened = 1,
    DeviceNotSupported = 2,
    DeviceError = 3,
    ProgrammingError = 4,
    Aborted = 5,
};

}  // namespace korvel
