#pragma once

#include <exception>
#include <optional>
#include <string>

#include "jobs/run_result.h"

namespace korvel {

inline constexpr const char* kProgramName = "Korvel";

// The message a front end shows for a run's result, or nullopt when the
// result shows none (Aborted). portName is the port as the user chose it.
std::optional<std::string> ResultMessage(RunResult result, const std::string& portName);

// What a front end says when a run's thread could not be started.
std::string StartFailureMessage(const std::exception& failure);

// Why a run failed, in its own words, for the line under the result's
// message: the last status text when it is a procedure's reason rather than
// one of the standard phase texts, else what escaped the procedure; empty
// when neither says more.
std::string FailureReason(const std::string& lastStatus, const std::string& failureText);

}  // namespace korvel
