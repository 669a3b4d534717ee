#include <array>

#include "jobs/generic_thread.h"
#include "procedures/isp/run_isp.h"

namespace korvel {

// Kind character to driver. A kind that is not listed ends a run with
// DeviceNotSupported before any port is touched.
std::span<const DriverEntry> StandardDrivers() {
    static constexpr std::array kDrivers{
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
