#pragma once

#include <string>

#include "sim/sim_commands.h"

namespace korvel::sim {

// `korvel-sim lpc`: an LPC2000 chip in its ISP boot loader.
extern const char* const kLpcSimUsage;
ServedModel MakeLpcSim(const ServeOptions& options, std::string& error);

}  // namespace korvel::sim
