#pragma once

#include <functional>

#include "cli/cli_options.h"
#include "package/tfilepro.h"

namespace korvel::cli {

// Programs the loaded package into the board on every port of options at
// once (the settings' port, defaultPort, when none is given), each board's
// reset wired as resetLines, with a record per board as JSON on standard
// output and/or appended to the record file. stopRequested is polled: once
// true, every run is asked to stop. Returns 0 when every board succeeded,
// else the result of the first port (in the order given) that did not;
// kExitRecordFailed when only the record failed.
int ProgramStation(const CliOptions& options, const TFilePro& package, int defaultPort,
                   const ResetLines& resetLines, const std::function<bool()>& stopRequested);

}  // namespace korvel::cli
