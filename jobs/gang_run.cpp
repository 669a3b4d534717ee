#include "jobs/gang_run.h"

#include <exception>

#include "jobs/run_messages.h"
#include "package/printable_text.h"
#include "serial/port_resolver.h"

namespace korvel {

struct GangRun::Run {
    Run(UiHandover& ui, std::size_t index, const GangBoard& board,
        std::span<const DriverEntry> drivers)
        : index(index), thread(ui, board.dialogs, drivers) {}
    std::size_t index;
    // Declared before the thread, which reads it until it has ended.
    std::shared_ptr<const std::vector<std::uint8_t>> image;
    GenericThread thread;
    RunRecord record;
};

RunRecord StartedRecord(const RunRequest& request, std::size_t index) {
    const RunPort& port = request.ports.at(index);
    RunRecord record;
    record.port = port.name;
    record.boardId = port.boardId;
    record.device =
        port.device.empty() ? PortResolver::instance().describe(port.number) : port.device;
    record.packagePath = request.packagePath;
    record.packageSha256 = request.packageSha256;
    record.imageSha256 = port.image ? port.imageSha256 : request.imageSha256;
    record.serial = port.serial;
    record.kind = request.kind;
    record.entryName = request.package->entryName(0);
    record.entryVersion = request.package->entryVersion(0);
    record.start = std::chrono::system_clock::now();
    return record;
}

GangRun::GangRun(UiHandover& ui, std::span<const DriverEntry> drivers)
    : ui_(ui), drivers_(drivers) {}

GangRun::~GangRun() = default;

void GangRun::Start(const RunRequest& request, const std::vector<GangBoard>& boards) {
    for (std::size_t i = 0; i < request.ports.size() && i < boards.size(); ++i) {
        const RunPort& port = request.ports[i];
        const GangBoard& board = boards[i];
        auto run = std::make_unique<Run>(ui_, runs_.size(), board, drivers_);
        run->record = StartedRecord(request, i);
        run->thread.Setup(*request.package, board.progress, request.baudRate, board.status,
                          port.number);
        if (port.image) {
            run->image = port.image;
            run->thread.SetEntryImage(*run->image);
        }
        run->thread.SetVerify(request.verify);
        run->thread.SetResetLines(request.resetLines);
        run->thread.OnFinished = [this, r = run.get()](const Outcome& outcome) {
            Finish(*r, outcome);
        };
        runs_.push_back(std::move(run));
    }
    for (auto& run : runs_) {
        run->record.start = std::chrono::system_clock::now();
        try {
            startThread(run->thread);
        } catch (const std::exception& e) {
            // No thread for this board (the system's limit): the others go on.
            Outcome outcome;
            outcome.result = RunResult::ProgrammingError;
            outcome.reason = StartFailureMessage(e);
            Finish(*run, outcome);
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

void GangRun::Finish(Run& run, const Outcome& outcome) {
    RunRecord& record = run.record;
    record.durationSeconds = outcome.durationSeconds;
    record.result = outcome.result;
    record.status = run.thread.lastStatus();
    // The status is for watching a run; the reason says how it ended.
    record.message = PrintableText(outcome.reason);
    if (!run.thread.portDevice().empty()) {
        record.device = run.thread.portDevice();
    }
    const BoardFacts& learned = outcome.learned;
    record.chip = learned.chip;
    record.partId = learned.partId ? std::to_string(*learned.partId) : "";
    record.partIdHex = learned.partId ? PartIdHex(*learned.partId) : "";
    record.bootCode = learned.bootCode;
    record.verify = learned.verify;
    record.verified = learned.verified;
    ++finished_;
    if (OnBoardFinished) {
        OnBoardFinished(run.index, record, outcome);
    }
}

}  // namespace korvel
