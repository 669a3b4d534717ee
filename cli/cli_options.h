#pragma once

#include <optional>
#include <string>
#include <vector>

#include "serial/reset_lines.h"

namespace korvel::cli {

// Exit codes of the headless front end besides the run results 0 to 5.
inline constexpr int kExitUsage = 64;
inline constexpr int kExitBadPackage = 66;
inline constexpr int kExitWrongPassword = 77;

struct CliOptions {
    enum class Command { Help, Version, Program, Info, Ports };
    Command command = Command::Help;
    std::string package;
    // From --port: a port number, or a device path standing for the port.
    std::optional<int> portNumber;
    std::string devicePath;
    std::optional<int> baudRate;
    // From --reset-lines; else the settings file's.
    std::optional<ResetLines> resetLines;
};

// Parses the arguments after the program name. On a usage error returns
// nullopt and puts the reason in `error`.
std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& args, std::string& error);

std::string UsageText();

}  // namespace korvel::cli
