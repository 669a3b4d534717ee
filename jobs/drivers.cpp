#include <array>

#include "jobs/generic_thread.h"
#include "procedures/boot_monitor/run_boot_monitor.h"
#include "procedures/controller_unit/run_controller_unit.h"
#include "procedures/isp/run_isp.h"
#include "procedures/resident_loader/run_resident_loader.h"

namespace korvel {

// Kind character to driver. A kind that is not listed ends a run with
// DeviceNotSupported before any port is touched.
std::span<const DriverEntry> StandardDrivers() {
    static constexpr std::array kDrivers{
        DriverEntry{'(', "resident loader, blocks by image offset", RunResidentLoader},
        DriverEntry{')', "resident loader, blocks by flash address", RunResidentLoader},
        DriverEntry{'9', "boot monitor", RunBootMonitor},
        DriverEntry{'G', "controller unit boot loader", RunControllerUnit},
        DriverEntry{'\'', "LPC ISP boot loader", RunIsp},
        DriverEntry{'F', "LPC ISP boot loader", RunIsp},
    };
    return kDrivers;
}

const DriverEntry* FindDriver(std::span<const DriverEntry> drivers, char kind) {
    for (const DriverEntry& entry : drivers) {
        if (entry.kind == kind && kind != 0) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace korvel
