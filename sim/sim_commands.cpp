#include "sim/sim_commands.h"

#include "sim/boot_monitor_command.h"
#include "sim/lpc_sim_command.h"
#include "sim/pcx_board_command.h"
#include "sim/resident_loader_command.h"

namespace korvel::sim {

std::span<const SimCommand> SimCommands() {
    static const std::vector<SimCommand> commands = {
        {"resident", kResidentLoaderUsage, MakeResidentLoader},
        {"monitor", kBootMonitorUsage, ServeBootMonitor},
        {"pcx", kPcxUsage, ServePcxBoard},
        {"lpc", kLpcSimUsage, MakeLpcSim},
    };
    return commands;
}

}  // namespace korvel::sim
