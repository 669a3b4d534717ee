#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "jobs/generic_thread.h"
#include "jobs/run_record.h"
#include "serial/reset_lines.h"

namespace korvel {

// One board of a gang: the port its run uses and where the run reports.
struct GangBoard {
    std::string port;  // as the user named it, for messages and the record
    int portNumber = 1;
    // The device behind the port for the record; empty: as the resolver names it.
    std::string device;
    ProgressTarget* progress = nullptr;
    StatusTarget* status = nullptr;
    DialogService* dialogs = nullptr;
};

// What every run of a gang programs.
struct GangPackage {
    const TFilePro* package = nullptr;  // loaded; required
    std::string path;
    std::string sha256;
    int baudRate = 38400;
    bool verify = false;
    // How every board's reset hangs on its port's DTR and RTS.
    ResetLines resetLines;
};

// Several boards programmed at once: one GenericThread, procedure and port
// per board, each exactly the run a single board gets. The runs share
// nothing but the hand-over to the user-interface thread, on which each
// run's end is reported with its record. The hand-over must be served until
// Finished(); destroying the gang waits for every worker.
class GangRun {
  public:
    // The drivers come from whoever builds the runs: jobs/ knows no procedure.
    GangRun(UiHandover& ui, std::span<const DriverEntry> drivers);
    ~GangRun();

    GangRun(const GangRun&) = delete;
    GangRun& operator=(const GangRun&) = delete;

    // Starts one run per board. The package and the targets must stay alive
    // until Finished(). A run whose worker cannot be started ends at once
    // with ProgrammingError, the reason as its last status text.
    void Start(const GangPackage& package, const std::vector<GangBoard>& boards);
    // Asks every run that is still going to stop; never waits. False when a
    // run's procedure cannot be stopped and runs to its end.
    bool Stop();
    // On the user-interface thread: whether every run has ended.
    bool Finished() const { return finished_ == runs_.size(); }

    // On the user-interface thread, once per board as its run ends: the
    // board's index in the order given, its record and its thread (for the
    // reason a port did not open or a line failed).
    std::function<void(std::size_t index, const RunRecord& record, const GenericThread& thread)>
        OnBoardFinished;

  private:
    struct Run;
    // lastStatus: the run's last status text, for the record.
    void Finish(Run& run, RunResult result, const std::string& lastStatus);

    UiHandover& ui_;
    std::span<const DriverEntry> drivers_;
    std::vector<std::unique_ptr<Run>> runs_;
    std::size_t finished_ = 0;
};

}  // namespace korvel
