#include "sim/sim_commands.h"

#include "sim/lpc_sim_command.h"

namespace korvel::sim {

std::span<const SimCommand> SimCommands() {
    static const std::vector<SimCommand> commands = {
        {"lpc", kLpcSimUsage, MakeLpcSim},
    };
    return commands;
}

}  // namespace korvel::sim
