#pragma once

#include <optional>
#include <string>

#include "jobs/run_result.h"

namespace korvel {

inline constexpr const char* kProgramName = "Korvel";

// The message a front end shows for a run's result, or nullopt when the
// result shows none (Aborted). portName is the port as the user chose it.
std::optional<std::string> ResultMessage(RunResult result, const std::string& portName);

}  // namespace korvel
