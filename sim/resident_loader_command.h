#pragma once

#include <string>

#include "sim/sim_commands.h"

namespace korvel::sim {

inline constexpr const char* kResidentLoaderUsage =
    "board with a resident loader (kinds '(' and ')') at 57600 baud; faults: silent, "
    "first-byte-delay=MS, reply-gap=MS, bad-checksum[=N], no-reply=N; --flash-out writes "
    "the flash from 0x18000 (98304) to its end";

// `korvel-sim resident`: a resident-loader board, its faults from --fault,
// and its image area written to --flash-out when serving ends.
ServedModel MakeResidentLoader(const ServeOptions& options, std::string& error);

}  // namespace korvel::sim
