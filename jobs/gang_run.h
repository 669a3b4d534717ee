#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "jobs/generic_thread.h"
#include "jobs/run_record.h"
#include "jobs/run_request.h"

namespace korvel {

// Where one board's run reports: one per port of the request, in its order.
struct GangBoard {
    ProgressTarget* progress = nullptr;
    StatusTarget* status = nullptr;
    DialogService* dialogs = nullptr;
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

    // Starts one run per port of the request, reporting into the board of
    // the same index. The package and the targets must stay alive until
    // Finished(). A run whose worker cannot be started ends at once with
    // ProgrammingError, saying why.
    void Start(const RunRequest& request, const std::vector<GangBoard>& boards);
    // Asks every run that is still going to stop; never waits. False when a
    // run's procedure cannot be stopped and runs to its end.
    bool Stop();
    // On the user-interface thread: whether every run has ended.
    bool Finished() const { return finished_ == runs_.size(); }

    // On the user-interface thread, once per board as its run ends: the
    // board's index in the order given, its record and its outcome.
    std::function<void(std::size_t index, const RunRecord& record, const Outcome& outcome)>
        OnBoardFinished;
    // Starts a run's worker; throws when the system cannot make one. Tests
    // put their own in.
    std::function<void(GenericThread& thread)> startThread = [](GenericThread& t) { t.Start(); };

  private:
    struct Run;
    void Finish(Run& run, const Outcome& outcome);

    UiHandover& ui_;
    std::span<const DriverEntry> drivers_;
    std::vector<std::unique_ptr<Run>> runs_;
    std::size_t finished_ = 0;
};

}  // namespace korvel
