#include "cli/station_records.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "jobs/exit_codes.h"
#include "jobs/run_record_json.h"
#include "package/printable_text.h"

namespace korvel::cli {

namespace {
constexpr const char* kStoppedMessage =
    "stopped at once by a second stop request, before the run ended: the board's flash is in "
    "an unknown state; program it again";
}  // namespace

StationRecords::StationRecords(std::vector<RunRecord> started, std::unique_ptr<RecordFile> file,
                               std::string filePath, std::FILE* json,
                               std::function<void(std::size_t, const std::string&)> say)
    : started_(std::move(started)),
      results_(started_.size()),
      file_(std::move(file)),
      filePath_(std::move(filePath)),
      json_(json),
      say_(std::move(say)) {}

void StationRecords::Write(std::size_t index, const RunRecord& run) {
    if (results_.at(index)) {
        return;
    }
    results_[index] = run.result;
    const std::string line = RunRecordJson(run);
    // On the disk before the result is shown: a station proves later what
    // it did from this file.
    if (file_) {
        std::string error;
        if (!file_->Append(line, error)) {
            failed_ = true;
            say_(index,
                 "The record could not be written to " + PrintableText(filePath_) + ": " + error);
        }
    }
    writeJson(line);
}

void StationRecords::writeJson(const std::string& line) {
    if (json_ == nullptr) {
        return;
    }
    errno = 0;
    if (std::fprintf(json_, "%s\n", line.c_str()) < 0 || std::fflush(json_) != 0) {
        const int error = errno;
        failed_ = true;
        // Said once: the lines of the boards still running go to the record
        // file only, and the exit says that the record is not whole.
        std::fprintf(stderr,
                     "korvel-cli: standard output takes no more JSON lines (%s); the boards go "
                     "on%s\n",
                     error != 0 ? std::strerror(error) : "write failed",
                     file_ ? " and their lines go to the record file" : "");
        json_ = nullptr;
    }
}

int StationRecords::WriteStopped(const std::function<std::string(std::size_t)>& statusOf) {
    const auto now = std::chrono::system_clock::now();
    for (std::size_t i = 0; i < started_.size(); ++i) {
        if (results_[i]) {
            continue;
        }
        RunRecord run = started_[i];
        run.result = RunResult::Aborted;
        run.status = statusOf(i);
        run.message = kStoppedMessage;
        run.durationSeconds = std::chrono::duration<double>(now - run.start).count();
        Write(i, run);
        say_(i, run.message);
    }
    return ExitCode();
}

int StationRecords::ExitCode() const {
    if (failed_) {
        return kExitRecordFailed;
    }
    for (const auto& result : results_) {
        if (result != RunResult::Success) {
            return static_cast<int>(result.value_or(RunResult::Aborted));
        }
    }
    return 0;
}

std::vector<RunRecord> StartedRecords(const RunRequest& request) {
    std::vector<RunRecord> records;
    for (std::size_t i = 0; i < request.ports.size(); ++i) {
        records.push_back(StartedRecord(request, i));
    }
    return records;
}

}  // namespace korvel::cli
