#include "jobs/gang_run.h"

#include <exception>

#include "jobs/run_messages.h"
#include "serial/port_resolver.h"

namespace korvel {

struct GangRun::Run {
    Run(UiHandover& ui, std::size_t index, const GangBoard& board,
        std::span<const DriverEntry> drivers)
        : index(index), thread(ui, board.dialogs, drivers) {}
    std::size_t index;
    GenericThread thread;
    RunRecord record;
    std::chrono::steady_clock::time_point started;
};

GangRun::GangRun(UiHandover& ui, std::span<const DriverEntry> drivers)
    : ui_(ui), drivers_(drivers) {}

GangRun::~GangRun() = default;

void GangRun::Start(const GangPackage& package, const std::vector<GangBoard>& boards) {
    for (const GangBoard& board : boards) {
        auto run = std::make_unique<Run>(ui_, runs_.size(), board, drivers_);
        RunRecord& record = run->record;
        record.port = board.port;
        record.device = board.device.empty() ? PortResolver::instance().describe(board.portNumber)
                                             : board.device;
        record.packagePath = package.path;
        record.packageSha256 = package.sha256;
        record.kind = package.package->kind();
        record.entryName = package.package->entryName(0);
        record.entryVersion = package.package->entryVersion(0);
        run->thread.Setup(*package.package, board.progress, package.baudRate, board.status,
                          board.portNumber);
        run->thread.SetVerify(package.verify);
        run->thread.SetResetLines(package.resetLines);
        run->thread.OnFinished = [this, r = run.get()](RunResult result) {
            Finish(*r, result, r->thread.lastStatus());
        };
        runs_.push_back(std::move(run));
    }
    for (auto& run : runs_) {
        run->record.start = std::chrono::system_clock::now();
        run->started = std::chrono::steady_clock::now();
        try {
            run->thread.Start();
        } catch (const std::exception& e) {
            // No thread for this board (the system's limit): the others go on.
            Finish(*run, RunResult::ProgrammingError, StartFailureMessage(e));
        }
    }
}

bool GangRun::Stop() {
    bool stoppable = true;
    for (auto& run : runs_) {
        stoppable = run->thread.Stop() && stoppable;
    }
    return stoppable;
}

void GangRun::Finish(Run& run, RunResult result, const std::string& lastStatus) {
    const auto elapsed = std::chrono::steady_clock::now() - run.started;
    RunRecord& record = run.record;
    record.durationSeconds = std::chrono::duration<double>(elapsed).count();
    record.result = result;
    record.status = lastStatus;
    record.message = ResultMessage(result, run.record.port).value_or("Aborted");
    if (!run.thread.portDevice().empty()) {
        record.device = run.thread.portDevice();
    }
    const BoardFacts& learned = run.thread.learned();
    record.chip = learned.chip;
    record.partId = learned.partId ? std::to_string(*learned.partId) : "";
    record.verified = learned.verified;
    ++finished_;
    if (OnBoardFinished) {
        OnBoardFinished(run.index, record, run.thread);
    }
}

}  // namespace korvel
