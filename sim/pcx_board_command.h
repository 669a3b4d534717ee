#pragma once

#include <string>
#include <vector>

#include "sim/pcx_board.h"
#include "sim/sim_commands.h"

namespace korvel::sim {

// The --fault names `korvel-sim pcx` takes.
inline constexpr const char* kPcxUsage =
    "controller-unit boot loader; --version TEXT, --fault silent | busy-once | "
    "refuse-erase-all | refuse-write=ADDR | other-loader | lowercase-id | "
    "no-reboot-reply | answer-after=N";

// Adds the named faults; false with the reason in `error` for one it does not know.
bool ParsePcxFaults(const std::vector<std::string>& names, PcxBoardFaults& faults,
                    std::string& error);

// The controller-unit board for korvel-sim; its flash goes to --flash-out at the end.
ServedModel ServePcxBoard(const ServeOptions& options, std::string& error);

}  // namespace korvel::sim
