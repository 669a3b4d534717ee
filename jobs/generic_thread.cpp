#include "jobs/generic_thread.h"

#include <chrono>
#include <exception>

#include "package/printable_text.h"
#include "serial/open_advice.h"
#include "serial/serial_port.h"

namespace korvel {

namespace {

// The entry for a kind, or null when the kind selects no procedure.
const DriverEntry* FindDriver(std::span<const DriverEntry> drivers, char kind) {
    for (const DriverEntry& entry : drivers) {
        if (entry.kind == kind && kind != 0) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace

GenericThread::GenericThread(UiHandover& ui, DialogService* dialogs,
                             std::span<const DriverEntry> drivers)
    : ui_(ui), dialogs_(dialogs), drivers_(drivers) {}

GenericThread::~GenericThread() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

std::span<const std::uint8_t> GenericThread::entryImage(int i) const {
    if (i == 0 && entryImage_.size() >= TFilePro::kTrailerSize) {
        return entryImage_.first(entryImage_.size() - TFilePro::kTrailerSize);
    }
    return package_->entryImage(i);
}

std::span<const std::uint8_t> GenericThread::entryImageWithTrailer(int i) const {
    return i == 0 && !entryImage_.empty() ? entryImage_ : package_->entryImageWithTrailer(i);
}

void GenericThread::Setup(const TFilePro& package, ProgressTarget* progressBar, int baudRate,
                          StatusTarget* statusPanel, int portNumber) {
    package_ = &package;
    progressBar_ = progressBar;
    baudRate_ = baudRate;
    statusPanel_ = statusPanel;
    portNumber_ = portNumber;
}

void GenericThread::Start() {
    worker_ = std::thread([this] { Execute(); });
}

bool GenericThread::Stop() {
    std::lock_guard lock(abortMutex_);
    stopRequested_ = true;
    if (abort_) {
        abort_();
    }
    return !unstoppable_;
}

void GenericThread::RegisterAbort(std::function<void()> abort) {
    std::lock_guard lock(abortMutex_);
    abort_ = std::move(abort);
    if (abort_ && stopRequested_) {
        abort_();
    }
}

RunResult GenericThread::Guarded(const std::function<RunResult()>& run) {
    std::string what = "an unknown error";
    try {
        return run();
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
    }
    // The board or its adapter went away, or the line failed otherwise.
    failure_ = "The run stopped on an error of the serial line or the system: " + what;
    return RunResult::ProgrammingError;
}

std::string GenericThread::WorkerReason(RunResult result) const {
    switch (result) {
        case RunResult::PortNotOpened:
        case RunResult::ProgrammingError:
            return failure_;
        case RunResult::DeviceNotSupported: {
            const char kind = package_ != nullptr ? package_->kind() : 0;
            if (kind == 0) {
                return "No package is loaded: load one and start again";
            }
            return "No procedure of this version programs packages of kind '" +
                   PrintableText(std::string(1, kind)) + "'";
        }
        case RunResult::Aborted:
            return stopRequested_ ? "Stopped on request before the run ended" : "";
        case RunResult::Success:
        case RunResult::DeviceError:
            break;
    }
    return {};
}

void GenericThread::Execute() {
    const auto started = std::chrono::steady_clock::now();
    Outcome outcome;
    outcome.result = Guarded([&] {
        const char kind = package_ != nullptr ? package_->kind() : 0;
        const DriverEntry* entry = FindDriver(drivers_, kind);
        if (entry != nullptr) {
            outcome = entry->driver(*this);
        } else {
            outcome.result = RunResult::DeviceNotSupported;
        }
        return outcome.result;
    });
    // The procedure's reason names the step that failed; the worker's only
    // stands in where it gave none.
    if (outcome.reason.empty()) {
        outcome.reason = WorkerReason(outcome.result);
    }
    outcome.durationSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    RegisterAbort(nullptr);
    ui_.Synchronize([this, &outcome] {
        if (OnFinished) {
            OnFinished(outcome);
        }
    });
}

RunResult GenericThread::Drive(ProcContext& context, SerialPort& port, std::function<void()> abort,
                               const std::function<RunResult()>& run) {
    struct Registration {
        GenericThread& thread;
        ~Registration() { thread.RegisterAbort(nullptr); }
    } registration{*this};
    const bool stoppable = abort != nullptr;
    if (stoppable) {
        RegisterAbort(std::move(abort));
    } else {
        std::lock_guard lock(abortMutex_);
        unstoppable_ = true;
    }
    // Stopped before the board was reached: the port stays untouched.
    if (stoppable && stopRequested_) {
        return RunResult::Aborted;
    }
    if (!port.open()) {
        portDevice_ = port.devicePath();
        failure_ = OpenAdvice(portDevice_, port.lastOpenFailure());
        return RunResult::PortNotOpened;
    }
    if (stoppable && stopRequested_) {
        port.close();
        return RunResult::Aborted;
    }
    Bind(context);
    // A serial failure or anything else that escapes the procedure ends it.
    const RunResult result = Guarded(run);
    port.close();
    return result;
}

void GenericThread::Bind(ProcContext& context) {
    context.progressBar = nullptr;
    context.statusControl = nullptr;
    context.statusLog = nullptr;
    // Reports are posted: the worker goes on without waiting for the window.
    // They run before OnFinished, which comes after them through the same
    // hand-over, so the targets are still there.
    context.onProgressMax = [this](int maximum) {
        ui_.Post([this, maximum] {
            if (progressBar_ != nullptr) {
                progressBar_->setMaximum(maximum);
            }
        });
    };
    context.onProgressPosition = [this](int position) {
        ui_.Post([this, position] {
            if (progressBar_ != nullptr) {
                progressBar_->setPosition(position);
            }
        });
    };
    context.onProgressStep = [this](int delta) {
        // Adds to the bar's position as it is when the step runs.
        ui_.Post([this, delta] {
            if (progressBar_ != nullptr) {
                progressBar_->setPosition(progressBar_->position() + delta);
            }
        });
    };
    context.onStatus = [this](const std::string& text) {
        lastStatus_ = text;
        ui_.Post([this, text] {
            if (statusPanel_ != nullptr) {
                statusPanel_->setText(text);
            }
        });
    };

    // Each dialog request runs the dialog on the user-interface thread and
    // waits for its answer; without a dialog service the answer is "No".
    auto modal = [this](int (DialogService::*operation)(const std::string&)) {
        return [this, operation](const std::string& text) {
            int answer = DialogNo;
            ui_.Synchronize([&] {
                if (dialogs_ != nullptr) {
                    answer = (dialogs_->*operation)(text);
                }
            });
            return answer;
        };
    };
    auto polled = [this](int (DialogService::*operation)(const std::string&, const DialogPoll&)) {
        return [this, operation](const std::string& text, const DialogPoll& poll) {
            int answer = DialogNo;
            ui_.Synchronize([&] {
                if (dialogs_ != nullptr) {
                    answer = (dialogs_->*operation)(text, poll);
                }
            });
            return answer;
        };
    };
    context.onShowOk = modal(&DialogService::ShowOk);
    context.onShowOkUntil = polled(&DialogService::ShowOkUntil);
    context.onShowNo = modal(&DialogService::ShowNo);
    context.onShowNoUntil = polled(&DialogService::ShowNoUntil);
    context.onAskYesNo = modal(&DialogService::AskYesNo);
    context.onAskYesNoUntil = polled(&DialogService::AskYesNoUntil);
}

}  // namespace korvel
