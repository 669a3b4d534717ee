#include "procedures/boot_monitor/run_boot_monitor.h"

#include "procedures/boot_monitor/boot_monitor_procedure.h"

namespace korvel {

RunResult RunBootMonitor(GenericThread& thread) {
    BootMonitorProcedure procedure(thread.portNumber());
    const TFilePro& package = thread.package();
    // Not registered for Stop: the dialogue always runs to its end.
    return thread.Drive(procedure, procedure.port, nullptr, [&] {
        return procedure.RunBootMonitorProcedure(package.entryData(0), package.entrySize(0),
                                                 package.entrySize(1), package.entryData(1));
    });
}

}  // namespace korvel
