#pragma once

#include <string>

#include "sim/sim_commands.h"

namespace korvel::sim {

inline constexpr const char* kResidentLoaderUsage =
    "board with a resident loader (kinds '(' and ')'), 57600 baud.\n"
    "             --fault silent | first-byte-delay=MS | reply-gap=MS | bad-checksum[=N] |\n"
    "             no-reply=N (N counts requests from 1). --flash-out writes the flash\n"
    "             from 98304 (0x18000) to its end.";

// `korvel-sim resident`: a resident-loader board, its faults from --fault,
// and its image area written to --flash-out when serving ends.
ServedModel MakeResidentLoader(const ServeOptions& options, std::string& error);

}  // namespace korvel::sim
