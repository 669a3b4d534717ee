#pragma once

#include <cstdio>
#include <string>

#include "cli/console_progress.h"
#include "jobs/dialog_service.h"
#include "jobs/ui_targets.h"

namespace korvel::cli {

// The headless front end's "window": progress, status and dialogs on a
// terminal. On a terminal the progress is one redrawn line; on a pipe or file
// status texts and every tenth of the progress are plain lines. Runs on the
// main thread only, like a window's controls.
class TerminalConsole : public ProgressTarget, public StatusTarget, public DialogService {
  public:
    TerminalConsole(std::FILE* out, bool interactive);

    void setMaximum(int maximum) override;
    void setPosition(int position) override;
    int position() const override { return progress_.position(); }
    void setText(const std::string& text) override;

    // Ends a redrawn progress line so that the next output starts clean.
    void finishLine();
    void message(const std::string& text);

    int ShowOk(const std::string& text) override;
    int ShowOkUntil(const std::string& text, const DialogPoll& poll) override;
    int ShowNo(const std::string& text) override;
    int ShowNoUntil(const std::string& text, const DialogPoll& poll) override;
    int AskYesNo(const std::string& text) override;
    int AskYesNoUntil(const std::string& text, const DialogPoll& poll) override;
    int AskPassword(const std::string& prompt, const std::string& expected) override;

  private:
    void draw();
    // Reads one line from the terminal; echo off for passwords.
    std::string readLine(bool echo);
    int pollUntilClosed(const DialogPoll& poll);

    std::FILE* out_;
    bool interactive_;
    ConsoleProgress progress_;
    std::string status_;
    bool lineOpen_ = false;
};

}  // namespace korvel::cli
