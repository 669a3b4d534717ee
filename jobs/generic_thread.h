#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <span>
#include <thread>

#include "jobs/dialog_service.h"
#include "jobs/proc_context.h"
#include "jobs/run_result.h"
#include "jobs/ui_handover.h"
#include "jobs/ui_targets.h"
#include "package/tfilepro.h"
#include "serial/reset_lines.h"
#include "serial/serial_device.h"

namespace korvel {

class GenericThread;
class SerialPort;

// A driver runs the procedure of one package kind and returns the result.
using Driver = RunResult (*)(GenericThread& thread);
struct DriverEntry {
    char kind;
    const char* procedure;  // what the kind is programmed with, for listings
    Driver driver;
};

// One run on its own worker thread: picks the procedure by the package's kind,
// runs it, and hands the result to OnFinished on the user-interface thread,
// exactly once. The object serves one run; destroying it waits for the worker.
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
    // Asks the procedure to read the flash back and compare it, where its
    // loader can; learned().verified says whether that happened.
    void SetVerify(bool verify) { verify_ = verify; }
    void Start();
    // Asks the run to stop; never waits. A stop that comes before the
    // procedure is registered (the port opening, the image being read) is
    // kept and reaches the procedure as soon as it is. False when the run's
    // procedure cannot be stopped and runs to its end.
    bool Stop();

    std::function<void(RunResult)> OnFinished;

    // For drivers, on the worker thread.
    const TFilePro& package() const { return *package_; }
    int baudRate() const { return baudRate_; }
    int portNumber() const { return portNumber_; }
    const ResetLines& resetLines() const { return resetLines_; }
    bool verifyRequested() const { return verify_; }

    // The frame every driver shares: register for Stop (when abort is given),
    // open the port (PortNotOpened when that fails), bind the context's
    // callbacks to this thread, run inside an exception guard
    // (ProgrammingError when anything escapes), close the port, unregister.
    RunResult Drive(ProcContext& context, SerialPort& port, std::function<void()> abort,
                    const std::function<RunResult()>& run);

    // After OnFinished: why the port did not open, for PortNotOpened.
    const OpenFailure& portFailure() const { return portFailure_; }
    const std::string& portDevice() const { return portDevice_; }
    // After OnFinished: what escaped the procedure (a failing serial line,
    // for one) when the run ended with ProgrammingError that way; else empty.
    const std::string& failureText() const { return failureText_; }
    // After OnFinished: the last status text the procedure reported.
    const std::string& lastStatus() const { return lastStatus_; }
    // After OnFinished: what the procedure learned about the board.
    const BoardFacts& learned() const { return learned_; }
    // After OnFinished: why the procedure failed, as it said (ProcContext::Fail).
    const std::string& reason() const { return reason_; }

  private:
    void Execute();
    // Runs `run`; what escapes it ends with ProgrammingError, its text kept
    // for failureText().
    RunResult Guarded(const std::function<RunResult()>& run);
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
    bool verify_ = false;

    // Stop may run while the worker registers or drops the procedure; the
    // lock keeps Stop from reaching a procedure that is being destroyed.
    std::mutex abortMutex_;
    std::function<void()> abort_;
    std::atomic<bool> stopRequested_{false};
    bool unstoppable_ = false;

    OpenFailure portFailure_;
    std::string portDevice_;
    std::string failureText_;
    std::string lastStatus_;
    BoardFacts learned_;
    std::string reason_;
    std::thread worker_;
};

}  // namespace korvel
