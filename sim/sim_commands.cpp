#include "sim/sim_commands.h"

#include "sim/boot_monitor_command.h"

namespace korvel::sim {

std::span<const SimCommand> SimCommands() {
    static const std::vector<SimCommand> commands = {
        {"monitor", kBootMonitorUsage, ServeBootMonitor},
    };
    return commands;
}

}  // namespace korvel::sim
