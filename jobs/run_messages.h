#pragma once

#include <exception>
#include <optional>
#include <string>

#include "jobs/outcome.h"
#include "jobs/run_result.h"

namespace korvel {

inline constexpr const char* kProgramName = "Korvel";

// The message a front end shows for a run's result, or nullopt when the
// result shows none (Aborted). portName is the port as the user chose it.
std::optional<std::string> ResultMessage(RunResult result, const std::string& portName);

// What a front end says when a run's thread could not be started.
std::string StartFailureMessage(const std::exception& failure);

// The window's message for an outcome: the result's message and under it
// the reason; nullopt when the result shows none (Aborted).
std::optional<std::string> OutcomeMessage(const Outcome& outcome, const std::string& portName);

// korvel-cli's line for an outcome: "<result>: <reason>", the result alone
// when there is no reason (the result of an abort is "Aborted").
std::string OutcomeLine(const Outcome& outcome, const std::string& portName);

}  // namespace korvel
