#pragma once

#include <cstdint>

namespace korvel {

// Options of a controller-unit run. Every run uses these fixed values; the
// like-named settings do not feed them.
// The procedure reads the flash, connection, version and speed fields; the
// others stay because the record is a named interface of the worker.
struct PcxOptions {
    bool writeMcuFlash = true;
    bool connectToBoot = true;
    bool connectToApp = true;
    bool checkVersion = false;
    std::uint8_t machineTypeToSet = 255;
    bool checkMachineType = false;
    std::int32_t flashBaudRate = 57600;
    bool writeMcuSd = false;
    bool sdCheckVersion = false;
    std::int32_t sdBaudRate = 57600;
};

}  // namespace korvel
