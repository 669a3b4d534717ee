#pragma once

#include <cstddef>

#include "bench/support/protocol_bound.h"
#include "jobs/run_result.h"
#include "package/tfilepro.h"
#include "serial/virtual_serial_device.h"

namespace korvel::bench {

// One package programmed in virtual time.
struct VirtualRun {
    RunResult result = RunResult::ProgrammingError;
    VirtualNs runNs = 0;  // from opening the port to closing it
    std::size_t hostBytes = 0;
    std::size_t boardBytes = 0;
    ProtocolBound bound;

    double ratio() const {
        return bound.boundNs > 0 ? static_cast<double>(runNs) / static_cast<double>(bound.boundNs)
                                 : 0.0;
    }
};

// Programs the package through the driver its kind selects, exactly as a
// front end starts a run (worker thread, port opened by number), on a paced
// virtual line to `board`, and computes the run's bound from what crossed
// the line. baudRate is the rate the user would choose (the ISP uses it).
VirtualRun ProgramVirtually(const TFilePro& package, VirtualLineEnd& board, int baudRate);

}  // namespace korvel::bench
