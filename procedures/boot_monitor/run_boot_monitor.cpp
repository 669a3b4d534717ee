#include "procedures/boot_monitor/run_boot_monitor.h"

#include "procedures/boot_monitor/boot_monitor_procedure.h"
#include "procedures/package_kinds.h"

namespace korvel {

static_assert(FindPackageKind('9').baudRate == BootMonitorProcedure::kBaudRate,
              "the kind table states the monitor's speed");

Outcome RunBootMonitor(GenericThread& thread) {
    BootMonitorProcedure procedure(thread.portNumber());
    // Not registered for Stop: the dialogue always runs to its end.
    return procedure.Conclude(thread.Drive(procedure, procedure.port, nullptr, [&] {
        return procedure.Run(thread.entryImage(0), thread.entryImage(1));
    }));
}

}  // namespace korvel
