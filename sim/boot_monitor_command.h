#pragma once

#include <string>

#include "sim/sim_commands.h"

namespace korvel::sim {

// `korvel-sim monitor`: the boot-monitor board on a pty.
extern const char* const kBootMonitorUsage;
ServedModel ServeBootMonitor(const ServeOptions& options, std::string& error);

}  // namespace korvel::sim
