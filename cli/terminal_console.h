#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "cli/console_dialogs.h"
#include "cli/console_progress.h"
#include "jobs/ui_targets.h"

namespace korvel::cli {

// The headless front end's "window": progress, status and dialogs on a
// terminal. On a terminal the progress is one redrawn line, never wider than
// the terminal; on a pipe or file status texts and every tenth of the
// progress are plain lines. Texts are shown escaped (PrintableText). Runs on
// the main thread only, like a window's controls.
class TerminalConsole : public ProgressTarget, public StatusTarget, public ConsoleDialogs {
  public:
    // columns: the terminal's width now (0: unknown); by default TerminalWidth(out).
    TerminalConsole(std::FILE* out, bool interactive, std::function<int()> columns = {});

    void setMaximum(int maximum) override;
    void setPosition(int position) override;
    int position() const override { return progress_.position(); }
    void setText(const std::string& text) override;
    // The last status text, escaped.
    const std::string& status() const { return status_; }

    // Ends a redrawn progress line so that the next output starts clean.
    void finishLine();
    void message(const std::string& text);

    int AskPassword(const std::string& prompt, const std::string& expected) override;

  protected:
    void say(const std::string& text) override { message(text); }

  private:
    void draw();

    std::FILE* out_;
    bool interactive_;
    std::function<int()> columns_;
    ConsoleProgress progress_;
    std::string status_;
    bool lineOpen_ = false;
};

}  // namespace korvel::cli
