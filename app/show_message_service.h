#pragma once

#include "jobs/dialog_service.h"

namespace korvel::app {

// The core's dialog requests served by the program's own message dialog.
// Runs on the user-interface thread, as every DialogService does.
class ShowMessageService : public DialogService {
  public:
    int ShowOk(const std::string& text) override;
    int ShowOkUntil(const std::string& text, const DialogPoll& poll) override;
    int ShowNo(const std::string& text) override;
    int ShowNoUntil(const std::string& text, const DialogPoll& poll) override;
    int AskYesNo(const std::string& text) override;
    int AskYesNoUntil(const std::string& text, const DialogPoll& poll) override;
    int AskPassword(const std::string& prompt, const std::string& expected) override;
};

}  // namespace korvel::app
