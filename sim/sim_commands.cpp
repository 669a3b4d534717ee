#include "sim/sim_commands.h"

#include "sim/pcx_board_command.h"

namespace korvel::sim {

std::span<const SimCommand> SimCommands() {
    static const std::vector<SimCommand> commands = {
        {"pcx", kPcxUsage, ServePcxBoard},
    };
    return commands;
}

}  // namespace korvel::sim
