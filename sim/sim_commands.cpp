#include "sim/sim_commands.h"

namespace korvel::sim {

std::span<const SimCommand> SimCommands() {
    static const std::vector<SimCommand> commands = {};
    return commands;
}

}  // namespace korvel::sim
