#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "jobs/dialog_service.h"

namespace korvel::cli {

// The core's dialogs on a console. A message is shown as text; a modeless
// dialog waits for its poll to close it, letting time pass through `idle`;
// a question reads its answer as a line of input, its line end shown on
// `out`. What a console shows, and the password prompt, are its own.
class ConsoleDialogs : public DialogService {
  public:
    ConsoleDialogs(std::FILE* out, std::function<void(std::chrono::milliseconds)> idle);

    int ShowOk(const std::string& text) override;
    int ShowOkUntil(const std::string& text, const DialogPoll& poll) override;
    int ShowNo(const std::string& text) override;
    int ShowNoUntil(const std::string& text, const DialogPoll& poll) override;
    int AskYesNo(const std::string& text) override;
    int AskYesNoUntil(const std::string& text, const DialogPoll& poll) override;

  protected:
    // Shows a dialog's text.
    virtual void say(const std::string& text) = 0;

  private:
    int pollUntilClosed(const DialogPoll& poll);

    std::FILE* out_;
    std::function<void(std::chrono::milliseconds)> idle_;
};

}  // namespace korvel::cli
