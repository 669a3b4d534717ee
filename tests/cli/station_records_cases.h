#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "jobs/run_record.h"

// The boards and ends the station records' tests share.
namespace korvel::cli::test_cases {

inline std::vector<RunRecord> Boards(std::size_t count) {
    std::vector<RunRecord> started(count);
    for (std::size_t i = 0; i < count; ++i) {
        started[i].port = "COM" + std::to_string(i + 1);
        started[i].kind = 'F';
    }
    return started;
}

inline RunRecord Ended(std::size_t index, RunResult result) {
    RunRecord run = Boards(index + 1)[index];
    run.result = result;
    run.message = "ended";
    return run;
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace korvel::cli::test_cases
