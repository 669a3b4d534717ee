#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jobs/gang_run.h"
#include "jobs/record_file.h"
#include "jobs/run_record.h"

namespace korvel::cli {

// The record of a station: every board that started gets one line in the
// record file and, with --json, one on standard output, whatever becomes of
// its run. A line one of them refuses is reported and the other goes on;
// either failing makes the station's exit 74. Runs on the main thread only.
class StationRecords {
  public:
    // started: each board's record as its run starts (StartedRecords).
    // file: the record file, or null; json: where the JSON lines go, or
    // null; say: a message about one board for the user.
    StationRecords(std::vector<RunRecord> started, std::unique_ptr<RecordFile> file,
                   std::string filePath, std::FILE* json,
                   std::function<void(std::size_t index, const std::string& text)> say);

    // The line of a board whose run ended.
    void Write(std::size_t index, const RunRecord& run);
    // The line of every board that has none yet, stopped at once before its
    // run ended (result 5), with statusOf(index) as its last status; for a
    // second stop request, right before the process ends. Returns ExitCode().
    int WriteStopped(const std::function<std::string(std::size_t index)>& statusOf);

    // 74 when a line did not get where it was to go, else 0 when every board
    // succeeded, else the result of the first board (in the order given)
    // that did not; 5 for a board without an end yet.
    int ExitCode() const;

  private:
    void writeJson(const std::string& line);

    std::vector<RunRecord> started_;
    std::vector<std::optional<RunResult>> results_;
    std::unique_ptr<RecordFile> file_;
    std::string filePath_;
    std::FILE* json_;
    std::function<void(std::size_t, const std::string&)> say_;
    bool failed_ = false;
};

// Each board's record as its run starts now (StartedRecord).
std::vector<RunRecord> StartedRecords(const RunRequest& request);

}  // namespace korvel::cli
