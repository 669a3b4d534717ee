#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "jobs/run_result.h"
#include "jobs/verify_mode.h"

namespace korvel {

// What a run found out about the board; empty or null where its procedure
// learns nothing of the kind.
struct BoardFacts {
    std::string chip;                      // the chip row's name, e.g. "LPC2138"
    std::optional<std::uint32_t> partId;   // as the boot loader gave it
    std::string bootCode;                  // the boot code version, e.g. "2.12"
    VerifyMode verify = VerifyMode::None;  // the check of the written flash the run does
    bool verified = false;                 // that check completed
    std::uint64_t bytesWritten = 0;        // image bytes the board accepted
};

// How one run ended and why: the value every front end shows and every
// record stores. The reason is the step and the board's answer, in words a
// technician can act on; empty on success and where the result says all.
struct Outcome {
    RunResult result = RunResult::ProgrammingError;
    std::string reason;
    BoardFacts learned;
    double durationSeconds = 0;
};

}  // namespace korvel
