#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "jobs/run_result.h"
#include "jobs/verify_mode.h"

namespace korvel {

// What one board's run leaves behind: which firmware went onto which board,
// and how it ended. Texts are empty where nothing was learned.
struct RunRecord {
    std::string port;  // as the user named it
    std::string boardId;
    std::string device;
    std::string packagePath;
    std::string packageSha256;
    // Of entry 0's data as this board was given it (its serial number in).
    std::string imageSha256;
    // Written into the image; the number is spent whatever the result.
    std::optional<std::uint64_t> serial;
    char kind = 0;
    std::string entryName;
    std::string entryVersion;
    std::string chip;
    std::string partId;     // decimal
    std::string partIdHex;  // 0x0002FF25
    std::string bootCode;   // 2.12
    RunResult result = RunResult::ProgrammingError;
    std::string status;   // the last status text the run showed
    std::string message;  // what the run's end says to the user
    std::chrono::system_clock::time_point start;
    double durationSeconds = 0;
    VerifyMode verify = VerifyMode::None;
    bool verified = false;
};

// A part id as the records give it in hex: 0x0002FF25.
std::string PartIdHex(std::uint32_t partId);

// "Success", "PortNotOpened", ... as the results are named in code.
const char* RunResultName(RunResult result);

// UTC, ISO 8601 to the millisecond: 2026-12-09T11:42:57.125Z.
std::string IsoUtc(std::chrono::system_clock::time_point time);

}  // namespace korvel
