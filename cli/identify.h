#pragma once

#include <cstdio>

#include "jobs/run_request.h"
#include "serial/reset_lines.h"

namespace korvel::cli {

// What `korvel-cli identify` does: synchronises with the LPC boot loader on
// the port and reports what it tells of the chip (part id, chip row, boot
// code version), as text or as one JSON object on out. Nothing is erased,
// written or started. Failures go to err. Returns the run's result code: 0,
// 1 (port not opened), 4 (no or a wrong answer, an unknown part) or 5.
int IdentifyBoard(const RunPort& port, int baudRate, const ResetLines& resetLines, bool json,
                  std::FILE* out, std::FILE* err);

}  // namespace korvel::cli
