#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "jobs/dialog_service.h"
#include "jobs/outcome.h"
#include "jobs/status_text.h"
#include "jobs/ui_targets.h"

namespace korvel {

// The head of every procedure: where its progress, status texts and questions
// go, and the flag through which the user asks it to stop. A procedure never
// knows whether it reports into controls directly or through callbacks.
class ProcContext {
  public:
    using IntCallback = std::function<void(int)>;
    using TextCallback = std::function<void(const std::string&)>;
    using DialogCallback = std::function<int(const std::string&)>;
    using PolledDialogCallback = std::function<int(const std::string&, const DialogPoll&)>;

    ProcContext() { Clear(); }
    virtual ~ProcContext() = default;

    ProcContext(const ProcContext&) = delete;
    ProcContext& operator=(const ProcContext&) = delete;

    // Drops every target and callback and clears the abort request.
    void Clear();

    void SetProgressMax(int maximum);
    void SetProgress(int position);
    void StepProgress(int delta);

    // printf-style status text, at most 511 characters; one trailing CR LF is cut.
    void Status(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Status(StatusId id) { Status("%s", Text(id)); }

    // Ends the run with result, for reason (a FaultReason text): returns
    // result so that a phase can `return Fail(...)`. The first reason given
    // is kept: it names the step that failed, later ones only follow from it.
    RunResult Fail(RunResult result, std::string reason);
    // The run's outcome for the result its procedure ended with.
    Outcome Conclude(RunResult result) const { return {result, reason_, learned, 0}; }
    const std::string& reason() const { return reason_; }

    // Called from the user-interface thread; procedures poll abortRequested.
    virtual void RequestAbort() { abortRequested = true; }

    std::atomic<bool> abortRequested{false};
    BoardFacts learned;

    // Direct targets take precedence over the callbacks. The worker binds
    // callbacks only and no procedure asks a dialog today; the direct targets
    // and the dialog callbacks stay as the context's named interface.
    ProgressTarget* progressBar = nullptr;
    IntCallback onProgressMax;
    IntCallback onProgressPosition;
    IntCallback onProgressStep;
    StatusTarget* statusControl = nullptr;
    StatusLog* statusLog = nullptr;
    TextCallback onStatus;
    DialogCallback onShowOk;
    PolledDialogCallback onShowOkUntil;
    DialogCallback onShowNo;
    PolledDialogCallback onShowNoUntil;
    DialogCallback onAskYesNo;
    PolledDialogCallback onAskYesNoUntil;

    static constexpr int kStatusCapacity = 512;

  private:
    std::string reason_;
};

}  // namespace korvel
