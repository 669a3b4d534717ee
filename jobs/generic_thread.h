#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <span>
#include <thread>

#include "jobs/dialog_service.h"
#include "jobs/outcome.h"
#include "jobs/proc_context.h"
#include "jobs/run_result.h"
#include "jobs/ui_handover.h"
#include "jobs/ui_targets.h"
#include "jobs/verify_mode.h"
#include "package/tfilepro.h"
#include "serial/reset_lines.h"
#include "serial/serial_device.h"

namespace korvel {

class GenericThread;
class SerialPort;

// A driver runs the procedure of one package kind and returns its outcome
// (ProcContext::Conclude).
using Driver = Outcome (*)(GenericThread& thread);
struct DriverEntry {
    char kind;
    const char* procedure;  // what the kind is programmed with, for listings
    Driver driver;
};

// One run on its own worker thread: picks the procedure by the package's kind,
// runs it, and hands its outcome to OnFinished on the user-interface thread,
// exactly once. The worker adds the reasons only it knows: a port that did
// not open, what escaped the procedure, a kind without a procedure, a stop.
// The object serves one run; destroying it waits for the worker.
class GenericThread {
  public:
    // The drivers come from whoever builds the run: jobs/ knows no procedure.
    GenericThread(UiHandover& ui, DialogService* dialogs, std::span<const DriverEntry> drivers);
    ~GenericThread();

    GenericThread(const GenericThread&) = delete;
    GenericThread& operator=(const GenericThread&) = delete;

    // The package must stay loaded and the targets alive until OnFinished ran.
    void Setup(const TFilePro& package, ProgressTarget* progressBar, int baudRate,
               StatusTarget* statusPanel, int portNumber);
    // How the port's DTR and RTS reset the board; not driven unless set.
    void SetResetLines(const ResetLines& lines) { resetLines_ = lines; }
    // Entry 0 as this board gets it instead of the package's own (its serial
    // number written in): the data followed by the two trailer bytes. Must
    // stay alive until OnFinished ran.
    void SetEntryImage(std::span<const std::uint8_t> withTrailer) { entryImage_ = withTrailer; }
    // Asks the procedure to check the written flash that way, where its
    // loader can; the outcome's learned.verified says whether that happened.
    void SetVerify(VerifyMode verify) { verify_ = verify; }
    void Start();
    // Asks the run to stop; never waits. A stop that comes before the
    // procedure is registered (the port opening, the image being read) is
    // kept and reaches the procedure as soon as it is. False when the run's
    // procedure cannot be stopped and runs to its end.
    bool Stop();

    std::function<void(const Outcome&)> OnFinished;

    // For drivers, on the worker thread.
    const TFilePro& package() const { return *package_; }
    int baudRate() const { return baudRate_; }
    int portNumber() const { return portNumber_; }
    const ResetLines& resetLines() const { return resetLines_; }
    VerifyMode verifyRequested() const { return verify_; }
    // The entry's bytes this run programs: the package's, or entry 0 as
    // SetEntryImage gave it.
    std::span<const std::uint8_t> entryImage(int i) const;
    std::span<const std::uint8_t> entryImageWithTrailer(int i) const;

    // The frame every driver shares: register for Stop (when abort is given),
    // open the port (PortNotOpened when that fails), bind the context's
    // callbacks to this thread, run inside an exception guard
    // (ProgrammingError when anything escapes), close the port, unregister.
    // The driver hands the result to its procedure's Conclude.
    RunResult Drive(ProcContext& context, SerialPort& port, std::function<void()> abort,
                    const std::function<RunResult()>& run);

    // After OnFinished: the device of a port that did not open; else empty.
    const std::string& portDevice() const { return portDevice_; }
    // After OnFinished: the last status text the procedure reported, for
    // watching the run only; the outcome says how it ended.
    const std::string& lastStatus() const { return lastStatus_; }

  private:
    void Execute();
    // Runs `run`; what escapes it ends with ProgrammingError, the reason
    // saying what it was.
    RunResult Guarded(const std::function<RunResult()>& run);
    // The reason the worker gives an outcome whose procedure gave none.
    std::string WorkerReason(RunResult result) const;
    void Bind(ProcContext& context);
    void RegisterAbort(std::function<void()> abort);

    UiHandover& ui_;
    DialogService* dialogs_;
    std::span<const DriverEntry> drivers_;

    const TFilePro* package_ = nullptr;
    ProgressTarget* progressBar_ = nullptr;
    StatusTarget* statusPanel_ = nullptr;
    int baudRate_ = 0;
    int portNumber_ = 1;
    ResetLines resetLines_;
    VerifyMode verify_ = VerifyMode::None;
    std::span<const std::uint8_t> entryImage_;

    // Stop may run while the worker registers or drops the procedure; the
    // lock keeps Stop from reaching a procedure that is being destroyed.
    std::mutex abortMutex_;
    std::function<void()> abort_;
    std::atomic<bool> stopRequested_{false};
    bool unstoppable_ = false;

    std::string portDevice_;
    // Why the port did not open, or what escaped the procedure.
    std::string failure_;
    std::string lastStatus_;
    std::thread worker_;
};

}  // namespace korvel
