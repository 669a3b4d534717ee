#pragma once

#include <optional>
#include <string>
#include <vector>

#include "jobs/exit_codes.h"
#include "jobs/serial_number.h"
#include "jobs/verify_mode.h"
#include "serial/reset_lines.h"

namespace korvel::cli {

struct CliOptions {
    enum class Command { Help, Version, Program, Info, Ports, Identify };
    Command command = Command::Help;
    std::string package;
    // From --port: a port number, or a device path standing for the port.
    std::optional<int> portNumber;
    std::string devicePath;
    std::optional<int> baudRate;
    // From --reset-lines; else the settings file's.
    std::optional<ResetLines> resetLines;
    // Every --port as given, in order; more than one programs the boards at once.
    std::vector<std::string> ports;
    bool json = false;
    std::string recordFile;
    VerifyMode verify = VerifyMode::None;
    // --board-id: the one board's id; --board-ids -: one line per board from
    // standard input, in port order.
    std::string boardId;
    bool boardIdsFromInput = false;
    // --expect-sha256: the only package this run may program.
    std::string expectSha256;
    // --serial AT:FORMAT: each board's serial number into its image, from
    // --serial-counter FILE, else from its board id.
    std::optional<SerialPlace> serial;
    std::string serialCounter;

    // Whether the run goes through the station front end: several boards,
    // or any of its outputs asked for.
    bool station() const {
        return ports.size() > 1 || json || !recordFile.empty() || verify != VerifyMode::None;
    }
};

// Parses the arguments after the program name. On a usage error returns
// nullopt and puts the reason in `error`.
std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& args, std::string& error);

// The number that COM3, com3 or 3 names; nullopt for a device path or adapter.
std::optional<int> PortNumber(const std::string& port);

std::string UsageText();

}  // namespace korvel::cli
