#pragma once

#include <cstdio>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "jobs/run_request.h"

namespace korvel::cli {

// The ports of options as the runs open them; the settings' port,
// defaultPort, when none is given. COM<n> or <n> keeps its number; a device
// path or adapter gets a number of its own above the settings' range, mapped
// to its device. An adapter that is not there keeps its name; the run then
// reports the port as not opened and why. nullopt, the reason printed to
// err, when two ports are the same device.
std::optional<std::vector<RunPort>> ResolvePorts(const CliOptions& options, int defaultPort,
                                                 std::FILE* err);

// Gives each port its board id: one line from in per port, in port order
// (a trailing CR is dropped), each asked for on prompt unless that is null.
// False, with error saying why, when the input ends first or a line is empty:
// then no board may be touched.
bool ReadBoardIds(std::istream& in, std::FILE* prompt, std::vector<RunPort>& ports,
                  std::string& error);

// Where korvel-cli writes: people read `human`, programs read `records`
// (the JSON lines of --json).
struct StationOutput {
    std::FILE* human = stdout;
    std::FILE* records = stdout;
};

// Programs the request into the board on every port of the request at once,
// with a record per board as JSON and/or appended to the record file. One
// port without --json, --record or --verify is a station of one shown as a
// single run: progress and status on one line, the outcome last.
// stopRequested is polled: once true, every run is asked to stop; a second
// stop request ends the process, but not before every board has its record
// line. Returns kExitRecordFailed when a record line did not get where it was
// to go, else 0 when every board succeeded, else the result of the first port
// (in the order given) that did not.
int ProgramStation(const CliOptions& options, const RunRequest& request, const StationOutput& out,
                   const std::function<bool()>& stopRequested);

}  // namespace korvel::cli
